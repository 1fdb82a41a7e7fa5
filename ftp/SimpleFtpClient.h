#pragma once

#include "diag/Debug_Modul.h"
#include "ftp/FtpResult.h"
#include "ftp/FtpSession.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

// One FTP login: connect, change directory, enumerate the names of the current
// directory, get and put single files. Every operation blocks until the server
// has answered or its deadline has passed; 0 means failure, never an exception.
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
    // handle, 0 when the directory is empty or the listing failed (ListingFailed).
    std::int32_t GetFirstFile(std::string& FileName);
    // The next name of the enumeration; 0 when there are no more.
    std::int32_t GetNextFile(std::int32_t hFind, std::string& FileName);
    // The whole listing of the current directory, each entry with the facts the
    // listing gives; 0 when it failed. confirmEmpty: see FtpSession::List.
    std::int32_t GetListing(Listing& Entries, bool ConfirmEmpty);

    // Takes over an open login kept from an earlier check (bound anew to this
    // client's bounds); a login this client had is closed first.
    void Adopt(std::unique_ptr<FtpSession> session);
    // Hands the open login back instead of logging out, for a later check of
    // the same server; none when not connected.
    std::unique_ptr<FtpSession> Release();

    // Whether the last GetFirstFile or GetListing could not complete the
    // listing, as opposed to finding the directory empty.
    bool ListingFailed() const { return listingFailed_; }
    // Whether the server said it cut the last listing short.
    bool ListingCut() const { return listingCut_; }
    // The outcome of the last request, for diagnostics.
    const FtpResult& LastResult() const { return lastResult_; }
    // After a failed Connect: the certificate the server showed, when that was
    // what could not be trusted.
    const std::optional<CertificateFacts>& RejectedCertificate() const { return rejected_; }

private:
    std::int32_t Track(FtpResult result);
    std::int32_t NextHandle();
    FtpResult ListInto(Listing& listing, bool confirmEmpty);

    LiveObject live_{"SimpleFtpClient"};
    SessionBounds bounds_;
    TlsMode tls_;
    std::unique_ptr<FtpSession> session_;
    std::optional<CertificateFacts> rejected_;
    std::int32_t connectionHandle_ = 0;
    std::int32_t lastHandle_ = 0;
    FtpResult lastResult_;
    bool listingFailed_ = false;
    bool listingCut_ = false;
    Listing listing_;
    std::size_t nextName_ = 0;
    std::int32_t findHandle_ = 0;
};

} // namespace ornbrook
