#pragma once

#include "ftp/FtpControl.h"
#include "ftp/FtpResult.h"
#include "ftp/FtpSettings.h"
#include "ftp/TcpSocket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// The e-mail-shaped password of an anonymous login (RFC 1635).
inline constexpr const char* AnonymousPassword = "ornbrook@example.com";

// One FTP login over a control connection: the protocol logic under SimpleFtpClient.
// Blocking, with a deadline on every wait. Data connections are active first
// (PORT/EPRT); when the server refuses that or cannot connect, the transfer is
// retried passive (EPSV, then PASV) and the session stays passive.
class FtpSession final {
public:
    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Connects and logs in; both user and password empty mean anonymous.
    FtpResult Open(const std::string& host, std::int32_t port, const std::string& user,
                   const std::string& pass);
    FtpResult ChangeDir(const std::string& path);
    // Every name of the current directory in server order; a failure is never an
    // empty or partial listing.
    FtpResult List(std::vector<std::string>& names);
    FtpResult Retrieve(const std::string& remoteFile, const std::string& localFile);
    FtpResult Store(const std::string& localFile, const std::string& remoteFile);
    // Says goodbye (QUIT) and closes.
    void Quit();
    // Closes without a word.
    void Close();
    bool IsOpen() const { return control_ != nullptr; }

private:
    // Receive takes downloaded bytes (false stops the transfer); Produce fills
    // upload bytes (0 at the end, negative on a read error).
    struct DataStream {
        std::function<bool(std::string_view)> Receive;
        std::function<long(char*, std::size_t)> Produce;
    };

    FtpResult Command(const std::string& line, FtpReply& reply);
    FtpResult ReadFinal(FtpReply& reply, Deadline deadline);
    FtpResult Lost(std::string message);
    FtpResult Login(const std::string& user, const std::string& pass);
    void ReadFeatures();
    FtpResult SetType(char type);
    FtpResult Transfer(const std::string& command, char type, DataStream& stream);
    FtpResult TransferActive(const std::string& command, DataStream& stream, bool& fallBack);
    FtpResult TransferPassive(const std::string& command, DataStream& stream);
    FtpResult EnterPassive(std::uint16_t& port);
    FtpResult Exchange(TcpSocket listener, TcpSocket data, DataStream& stream, bool* fallBack);
    Deadline ReplyDeadline() const { return SteadyClock::now() + timeouts_.Reply; }

    FtpTimeouts timeouts_;
    FtpLimits limits_;
    std::unique_ptr<FtpControl> control_;
    SocketAddress peer_;
    bool machineListing_ = false;
    bool utf8_ = false;
    bool passive_ = false;
    bool epsvRefused_ = false;
    char type_ = 0;
};

} // namespace ornbrook
