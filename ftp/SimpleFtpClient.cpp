#include "ftp/SimpleFtpClient.h"

#include <limits>

namespace ornbrook {

SimpleFtpClient::~SimpleFtpClient() {
    Disconnect();
}

void SimpleFtpClient::Cancel() {
    Disconnect();
}

void SimpleFtpClient::Disconnect() {
    if (session_)
        session_->Quit();
    session_.reset();
    connectionHandle_ = 0;
    findHandle_ = 0;
    listing_ = Listing{};
    nextName_ = 0;
}

void SimpleFtpClient::Adopt(std::unique_ptr<FtpSession> session) {
    Disconnect();
    if (!session || !session->IsOpen())
        return;
    session->Rebind(bounds_);
    session_ = std::move(session);
    connectionHandle_ = NextHandle();
}

std::unique_ptr<FtpSession> SimpleFtpClient::Release() {
    std::unique_ptr<FtpSession> session;
    if (IsConnected())
        session = std::move(session_);
    Disconnect();
    return session;
}

bool SimpleFtpClient::IsConnected() const {
    return connectionHandle_ != 0 && session_ && session_->IsOpen();
}

std::int32_t SimpleFtpClient::NextHandle() {
    lastHandle_ = lastHandle_ == std::numeric_limits<std::int32_t>::max() ? 1 : lastHandle_ + 1;
    return lastHandle_;
}

std::int32_t SimpleFtpClient::Track(FtpResult result) {
    const bool ok = result.Ok;
    lastResult_ = std::move(result);
    return ok ? 1 : 0;
}

std::int32_t SimpleFtpClient::Connect(const std::string& Host, std::int32_t Port,
                                      const std::string& User, const std::string& Pass) {
    Disconnect();
    rejected_.reset();
    auto session = std::make_unique<FtpSession>(bounds_, tls_);
    if (!Track(session->Open(Host, Port, User, Pass))) {
        if (session->CertificateRejected())
            rejected_ = session->Certificate();
        return 0;
    }
    session_ = std::move(session);
    connectionHandle_ = NextHandle();
    return connectionHandle_;
}

std::int32_t SimpleFtpClient::SendFile(const std::string& LocalFile,
                                       const std::string& RemoteFile) {
    if (!IsConnected())
        return Track(FtpResult::Fail(0, "not connected"));
    return Track(session_->Store(LocalFile, RemoteFile));
}

std::int32_t SimpleFtpClient::GetFile(const std::string& RemoteFile, const std::string& LocalFile) {
    if (!IsConnected())
        return Track(FtpResult::Fail(0, "not connected"));
    return Track(session_->Retrieve(RemoteFile, LocalFile));
}

std::int32_t SimpleFtpClient::ChangeDir(const std::string& Path) {
    if (!IsConnected())
        return Track(FtpResult::Fail(0, "not connected"));
    return Track(session_->ChangeDir(Path));
}

FtpResult SimpleFtpClient::ListInto(Listing& listing, bool confirmEmpty) {
    listing = Listing{};
    nextName_ = 0;
    findHandle_ = 0;
    listingFailed_ = true;
    listingCut_ = false;
    if (!IsConnected())
        return FtpResult::Fail(0, "not connected");
    FtpResult r = session_->List(listing, confirmEmpty);
    listingFailed_ = !r.Ok;
    listingCut_ = listing.Cut;
    return r;
}

std::int32_t SimpleFtpClient::GetListing(Listing& Entries, bool ConfirmEmpty) {
    listing_ = Listing{};
    return Track(ListInto(Entries, ConfirmEmpty));
}

std::int32_t SimpleFtpClient::GetFirstFile(std::string& FileName) {
    FileName.clear();
    if (!Track(ListInto(listing_, false)) || listing_.Entries.empty())
        return 0;
    FileName = listing_.Entries[0].Name;
    nextName_ = 1;
    findHandle_ = NextHandle();
    return findHandle_;
}

std::int32_t SimpleFtpClient::GetNextFile(std::int32_t hFind, std::string& FileName) {
    FileName.clear();
    if (hFind == 0 || hFind != findHandle_ || nextName_ >= listing_.Entries.size()) {
        if (hFind != 0 && hFind == findHandle_) {
            // The enumeration is over: its names need no memory any more.
            listing_ = {};
            findHandle_ = 0;
        }
        return 0;
    }
    FileName = std::move(listing_.Entries[nextName_++].Name);
    return 1;
}

} // namespace ornbrook
