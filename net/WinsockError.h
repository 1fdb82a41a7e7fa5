#pragma once

#include <QAbstractSocket>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ornbrook {

// A failed call of a WinsockControl method, with the control's error number and
// text. Failures that happen later, on the wire, come as the control's Error event.
class WinsockError final : public std::runtime_error {
public:
    explicit WinsockError(std::int32_t number);
    std::int32_t Number() const { return number_; }
    std::string Description() const { return what(); }

private:
    std::int32_t number_;
};

// The control's error numbers. Network failures carry the Winsock numbers, misuse
// of a method the control's own 400xx numbers.
namespace WinsockErrorNumber {
inline constexpr std::int32_t PermissionDenied = 10013;
inline constexpr std::int32_t MsgTooBig = 10040;
inline constexpr std::int32_t AddressInUse = 10048;
inline constexpr std::int32_t AddressNotAvailable = 10049;
inline constexpr std::int32_t NetworkSubsystemFailed = 10050;
inline constexpr std::int32_t NetworkUnreachable = 10051;
inline constexpr std::int32_t ConnectionReset = 10054;
inline constexpr std::int32_t NoBufferSpace = 10055;
inline constexpr std::int32_t TimedOut = 10060;
inline constexpr std::int32_t ConnectionRefused = 10061;
inline constexpr std::int32_t HostNotFound = 11001;
inline constexpr std::int32_t BadState = 40006;
inline constexpr std::int32_t InvalidArg = 40014;
inline constexpr std::int32_t InvalidOp = 40020;
inline constexpr std::int32_t WrongProtocol = 40026;
inline constexpr std::int32_t InvalidPropertyValue = 380;
} // namespace WinsockErrorNumber

// The control's description of an error number; numbers outside the table get a
// generic text with the number.
std::string WinsockErrorText(std::int32_t number);

// The control's number for a Qt socket error.
std::int32_t WinsockErrorFromQt(QAbstractSocket::SocketError error);

} // namespace ornbrook
