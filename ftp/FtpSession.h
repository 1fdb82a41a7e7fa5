#pragma once

#include "base/Result.h"
#include "ftp/CertificateFacts.h"
#include "ftp/DataTransfer.h"
#include "ftp/FileDownload.h"
#include "ftp/FtpControl.h"
#include "ftp/FtpModule.h"
#include "ftp/FtpSettings.h"
#include "ftp/ListedEntry.h"
#include "ftp/ServerMemory.h"
#include "ftp/TcpSocket.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

class StopSignal;
class TlsContext;
enum class ListingForm;
struct ParsedListing;

// The e-mail-shaped password of an anonymous login (RFC 1635).
inline constexpr const char* AnonymousPassword = "ornbrook@example.com";

// What bounds a whole session beyond the deadline of each wait: one overall
// deadline, and a stop signal that ends any wait at once (a cancelled check).
struct SessionBounds {
    Deadline Overall = Deadline::max();
    // How long the overall limit was, for the message when it is reached.
    std::chrono::milliseconds OverallLength{0};
    const StopSignal* Stop = nullptr;

    // Bounds that end `length` from now.
    static SessionBounds For(std::chrono::milliseconds length, const StopSignal* stop);
};

// One FTP login over a control connection: the protocol logic under SimpleFtpClient.
// Blocking, with a deadline on every wait and the session's bounds over all of
// them. Data connections are active first (PORT/EPRT); when the server refuses
// that or its connection never arrives, the transfer is retried passive (EPSV,
// then PASV) and the server is used passive from then on (see DataMode).
// Failures carry their kind and a reason fit for the user: the server's reply
// in one line, or what went wrong on our side ("connection refused", "timed
// out after 120 s").
//
// With TLS (RFC 4217) the control connection is secured before the login, its
// certificate judged first (CertificateTrust.h), and every data connection is
// secured as well, resuming the control connection's TLS session. Nothing is
// ever sent in the clear that the mode says to protect.
class FtpSession final {
public:
    explicit FtpSession(SessionBounds bounds = {}, TlsMode tls = TlsMode::None);
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Connects and logs in; both user and password empty mean anonymous. A
    // certificate that cannot be trusted fails it as Untrusted.
    Result<FtpReply> Open(const std::string& host, std::int32_t port, const std::string& user,
                          const std::string& pass);
    // Connects as far as the TLS handshake, takes the certificate whatever it is,
    // and says goodbye: for a user who wants to see it and decide.
    Result<FtpReply> FetchCertificate(const std::string& host, std::int32_t port);
    // The control connection's certificate, once its handshake is done.
    const std::optional<CertificateFacts>& Certificate() const { return certificate_; }
    Result<FtpReply> ChangeDir(const std::string& path);
    // Every entry of the current directory in server order, with the facts
    // the listing gives; a failure is never an empty or partial listing. A
    // listing that the server says it cut short succeeds with Cut set. With
    // confirmEmpty (the caller knows entries here), an empty listing is
    // believed only when another command lists nothing as well, so that one
    // fault of the server cannot confirm itself.
    Result<Listing> List(bool confirmEmpty = false);
    Result<FtpReply> Retrieve(const std::string& remoteFile, const std::string& localFile);
    Result<FtpReply> Store(const std::string& localFile, const std::string& remoteFile);
    // Fetches remoteFile in binary into fd from offset on (pwrite, the file's
    // own position untouched): with REST where FEAT offers REST STREAM and the
    // server takes it, else from the start with fd truncated first. Never
    // writes past limit: a byte beyond it ends the transfer (Overrun). Bound by
    // `idle` without a byte and by the stop signal, not by the overall limit.
    Result<Downloaded> Download(const std::string& remoteFile, int fd, std::uint64_t offset,
                                std::optional<std::uint64_t> limit,
                                const DownloadProgress& progress, std::chrono::milliseconds idle);
    // How data connections are made from now on (Auto by default).
    void SetDataMode(DataMode mode);
    // A file's modification time (seconds since 1970, UTC) by MDTM (RFC 3659
    // 3); none when the server cannot tell it.
    std::optional<std::int64_t> ModificationTime(const std::string& remoteFile);
    // New bounds for a session kept open for another check.
    void Rebind(SessionBounds bounds);
    // Says goodbye (QUIT) without waiting for the answer, and closes.
    void Quit();
    // Closes without a word.
    void Close();
    bool IsOpen() const { return control_ != nullptr; }

private:
    using Step = Result<FtpReply>;
    Step Command(const std::string& line, FtpReply& reply);
    Step ReadFinal(FtpReply& reply, Deadline deadline);
    // Closes the control connection: the session cannot go on. A wait that
    // ended because the session was stopped or ran out of time says so.
    Error Lost(Error why);
    Step Prepare(const std::string& host, std::int32_t port, const std::string& user,
                 const std::string& pass);
    Step Connect(const std::string& host, std::int32_t port);
    Step Greet(bool judgeCertificate);
    Step SecureControl(bool judgeCertificate);
    Step ProtectData();
    Step Login(const std::string& user, const std::string& pass);
    Step Reconnect();
    void ReadFeatures();
    Step SetType(char type);
    Step ListWith(const std::string& command, ListingForm form, ParsedListing& parsed);
    Step ListByPreference(Listing& listing, bool confirmEmpty);
    Step ListByMachine(Listing& listing);
    Step ListByNames(Listing& listing, bool confirmEmpty);
    Step ListByLong(Listing& listing);
    Step TryLongListing(Listing& listing);
    // Runs a transfer command over a data connection: active first, passive
    // when the server cannot reach us. Only a refusal of the command itself is
    // Refused: a refused preparation (TYPE, PASV) says nothing of the command.
    Step Transfer(const std::string& command, char type, ByteSink* sink, ByteSource* source);
    Step TransferActive(const std::string& command, ByteSink* sink, ByteSource* source,
                        DataTransfer::Fallback& fallBack);
    Step TransferPassive(const std::string& command, ByteSink* sink, ByteSource* source);
    Step EnterPassive(std::uint16_t& port);
    // Sends the transfer command itself, after REST when a download resumes.
    Step SendTransferCommand(const std::string& command);
    // What a data connection of this session needs of it.
    DataLink Link() const;
    void RememberFacts() const;

    // A step's deadline, never beyond the overall one.
    Deadline StepDeadline(std::chrono::milliseconds step) const;
    WaitLimit StepLimit(std::chrono::milliseconds step) const;
    int StopFd() const;

    SessionBounds bounds_;
    FtpTimeouts timeouts_;
    FtpLimits limits_;
    std::unique_ptr<FtpControl> control_;
    SocketAddress peer_;
    // The login and directory, to log in again after a broken transfer.
    std::string host_, user_, pass_, directory_;
    std::int32_t port_ = 0;
    ServerFacts facts_;
    TlsMode tlsMode_;
    std::unique_ptr<TlsContext> tls_;
    // PROT P is in force: every data connection speaks TLS.
    bool protectData_ = false;
    std::optional<CertificateFacts> certificate_;
    bool passive_ = false;
    DataMode dataMode_ = DataMode::Auto;
    bool epsvRefused_ = false;
    char type_ = 0;
    // The offset a download asks REST for, and whether the server took it.
    std::uint64_t restAt_ = 0;
    bool restTaken_ = false;
    const char* stall_ = "data stalled for ";
};

} // namespace ornbrook
