#include "ftp/FileDownload.h"

#include "ftp/FtpSession.h"
#include "ftp/FtpSettings.h"

#include <exception>

namespace ornbrook {

std::string OverrunMessage(std::uint64_t listed) {
    return "the server sent more than the listed " + std::to_string(listed) + " bytes";
}

DownloadOutcome DownloadFtpFile(const FtpURL& url, const std::string& key, const std::string& name,
                                int fd, std::uint64_t offset, std::optional<std::uint64_t> limit,
                                const DownloadProgress& progress, const StopSignal* stop,
                                KeptLogin* kept, std::chrono::milliseconds idle) {
    const SessionBounds bounds = SessionBounds::For(CurrentFtpTimeouts().Check, stop);
    std::unique_ptr<FtpSession> session = kept ? kept->Take(key) : nullptr;
    DownloadOutcome outcome;
    outcome.Length = offset;
    const auto failed = [&](const char* step, const FtpResult& r) {
        outcome.Message = step;
        if (!r.Message.empty())
            outcome.Message += ": " + r.Message;
        if (session && session->IsOpen())
            session->Quit();
        return outcome;
    };
    try {
        // A kept login that died meanwhile is replaced by a fresh one.
        bool inDirectory = false;
        if (session && session->IsOpen()) {
            session->Rebind(bounds);
            const FtpResult r = session->ChangeDir(url.Path);
            inDirectory = r.Ok;
            if (!r.Ok && session->IsOpen())
                return failed("could not change dir", r);
        }
        if (!inDirectory) {
            session = std::make_unique<FtpSession>(bounds, TlsModeOf(url.Scheme));
            if (FtpResult r = session->Open(url.Host, url.Port, url.User, url.Pass); !r.Ok)
                return failed("could not connect", r);
            if (FtpResult r = session->ChangeDir(url.Path); !r.Ok)
                return failed("could not change dir", r);
        }
        outcome = session->Download(name, fd, offset, limit, progress, idle);
    } catch (const std::exception& error) {
        outcome.Ok = false;
        outcome.Message = error.what();
    }
    if (!outcome.Ok) {
        outcome.Message = "could not download: " + outcome.Message;
        if (session && session->IsOpen())
            session->Quit();
        return outcome;
    }
    if (kept && session->IsOpen()) {
        kept->Key = key;
        kept->Session = std::move(session);
    } else if (session->IsOpen()) {
        session->Quit();
    }
    return outcome;
}

} // namespace ornbrook
