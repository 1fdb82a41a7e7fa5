#include "ftp/SimpleFtpClient.h"

#include <limits>

namespace ornbrook {

namespace {

const Error NotConnected{ErrorKind::Connection, "not connected"};

} // namespace

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

bool SimpleFtpClient::IsConnected() const {
    return connectionHandle_ != 0 && session_ && session_->IsOpen();
}

std::int32_t SimpleFtpClient::NextHandle() {
    lastHandle_ = lastHandle_ == std::numeric_limits<std::int32_t>::max() ? 1 : lastHandle_ + 1;
    return lastHandle_;
}

std::int32_t SimpleFtpClient::Connect(const std::string& Host, std::int32_t Port,
                                      const std::string& User, const std::string& Pass) {
    Disconnect();
    auto session = std::make_unique<FtpSession>(bounds_, tls_);
    if (!Track(session->Open(Host, Port, User, Pass)))
        return 0;
    session_ = std::move(session);
    connectionHandle_ = NextHandle();
    return connectionHandle_;
}

std::int32_t SimpleFtpClient::SendFile(const std::string& LocalFile,
                                       const std::string& RemoteFile) {
    if (!IsConnected())
        return Track(Result<void>(NotConnected));
    return Track(session_->Store(LocalFile, RemoteFile));
}

std::int32_t SimpleFtpClient::GetFile(const std::string& RemoteFile, const std::string& LocalFile) {
    if (!IsConnected())
        return Track(Result<void>(NotConnected));
    return Track(session_->Retrieve(RemoteFile, LocalFile));
}

std::int32_t SimpleFtpClient::ChangeDir(const std::string& Path) {
    if (!IsConnected())
        return Track(Result<void>(NotConnected));
    return Track(session_->ChangeDir(Path));
}

std::int32_t SimpleFtpClient::GetFirstFile(std::string& FileName) {
    FileName.clear();
    listing_ = Listing{};
    nextName_ = 0;
    findHandle_ = 0;
    if (!IsConnected())
        return Track(Result<void>(NotConnected));
    Result<Listing> listed = session_->List();
    if (!Track(listed) || listed->Entries.empty())
        return 0;
    listing_ = std::move(*listed);
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
