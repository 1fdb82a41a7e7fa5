#include "ftp/FileDownload.h"

#include "ftp/FtpSession.h"
#include "ftp/FtpSettings.h"

#include <exception>

namespace ornbrook {

std::string OverrunMessage(std::uint64_t listed) {
    return "the server sent more than the listed " + std::to_string(listed) + " bytes";
}

Result<Downloaded> DownloadFtpFile(const Url& url, const std::string& name, int fd,
                                   std::uint64_t offset, std::optional<std::uint64_t> limit,
                                   const DownloadProgress& progress, const StopSignal* stop,
                                   KeptLogin* kept, std::chrono::milliseconds idle, DataMode mode,
                                   bool askTime) {
    const SessionBounds bounds = SessionBounds::For(CurrentFtpTimeouts().Check, stop);
    const std::string key = url.LoginKey();
    std::unique_ptr<FtpSession> session = kept ? kept->Take(key) : nullptr;
    Result<Downloaded> outcome = Error{};
    try {
        if (auto in = EnterDirectory(session, url, url.Path(), bounds, mode); !in) {
            outcome = std::move(in).error();
        } else if (outcome = session->Download(name, fd, offset, limit, progress, idle); !outcome) {
            Error why = std::move(outcome).error();
            why.Message = "could not download: " + why.Message;
            outcome = std::move(why);
        } else if (askTime) {
            outcome->ModifiedUtc = session->ModificationTime(name);
        }
    } catch (const std::exception& error) {
        outcome = Error{ErrorKind::LocalFile, std::string("could not download: ") + error.what()};
    }
    if (outcome && kept && session->IsOpen()) {
        kept->Key = key;
        kept->Session = std::move(session);
    } else if (session && session->IsOpen()) {
        session->Quit();
    }
    return outcome;
}

} // namespace ornbrook
