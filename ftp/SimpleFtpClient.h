#pragma once

#include "base/Result.h"
#include "diag/Debug_Modul.h"
#include "ftp/FtpSession.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ornbrook {

// One FTP login: connect, change directory, enumerate the names of the current
// directory, get and put single files. Every operation blocks until the server
// has answered or its deadline has passed; 0 means failure, never an exception,
// and LastResult says why.
class SimpleFtpClient final {
public:
    // The bounds limit every session this client opens (a check's overall time
    // and its stop signal); tls says how its sessions protect themselves.
    explicit SimpleFtpClient(SessionBounds bounds = {}, TlsMode tls = TlsMode::None)
        : bounds_(bounds), tls_(tls) {}
    ~SimpleFtpClient();
    SimpleFtpClient(const SimpleFtpClient&) = delete;
    SimpleFtpClient& operator=(const SimpleFtpClient&) = delete;

    void Cancel();
    void Disconnect();
    bool IsConnected() const;
    // The connection handle, 0 on failure. A connected client drops its old
    // connection first. Port 0 means 21.
    std::int32_t Connect(const std::string& Host, std::int32_t Port,
                         const std::string& User = "Anonymous",
                         const std::string& Pass = AnonymousPassword);
    std::int32_t SendFile(const std::string& LocalFile, const std::string& RemoteFile);
    std::int32_t GetFile(const std::string& RemoteFile, const std::string& LocalFile);
    std::int32_t ChangeDir(const std::string& Path);
    // Lists the whole directory, then hands out its first name: an enumeration
    // handle, 0 when the directory is empty or the listing failed (LastResult
    // tells them apart).
    std::int32_t GetFirstFile(std::string& FileName);
    // The next name of the enumeration; 0 when there are no more.
    std::int32_t GetNextFile(std::int32_t hFind, std::string& FileName);

    // How the last request went.
    const Result<void>& LastResult() const { return lastResult_; }

private:
    template <typename T> std::int32_t Track(const Result<T>& result) {
        lastResult_ = result ? Result<void>() : Result<void>(result.error());
        return result ? 1 : 0;
    }
    std::int32_t NextHandle();

    LiveObject live_{"SimpleFtpClient"};
    SessionBounds bounds_;
    TlsMode tls_;
    std::unique_ptr<FtpSession> session_;
    std::int32_t connectionHandle_ = 0;
    std::int32_t lastHandle_ = 0;
    Result<void> lastResult_;
    Listing listing_;
    std::size_t nextName_ = 0;
    std::int32_t findHandle_ = 0;
};

} // namespace ornbrook
