#include "net/WinsockError.h"

#include "base/NumberText.h"

#include <array>
#include <utility>

namespace ornbrook {

namespace {

struct ErrorText {
    std::int32_t number;
    const char* text;
};

// The texts the control documents for its error constants.
constexpr std::array errorTexts{
    ErrorText{WinsockErrorNumber::InvalidPropertyValue, "The property value is invalid."},
    ErrorText{WinsockErrorNumber::PermissionDenied, "Permission denied."},
    ErrorText{WinsockErrorNumber::MsgTooBig,
              "The datagram is too large to fit into the buffer and is truncated."},
    ErrorText{WinsockErrorNumber::AddressInUse, "Address in use."},
    ErrorText{WinsockErrorNumber::AddressNotAvailable,
              "Address not available from the local machine."},
    ErrorText{WinsockErrorNumber::NetworkSubsystemFailed, "Network subsystem failed."},
    ErrorText{WinsockErrorNumber::NetworkUnreachable,
              "The network cannot be reached from this host at this time."},
    ErrorText{WinsockErrorNumber::ConnectionReset, "The connection is reset by remote side."},
    ErrorText{WinsockErrorNumber::NoBufferSpace, "No buffer space is available."},
    ErrorText{WinsockErrorNumber::TimedOut, "Connection has timed out."},
    ErrorText{WinsockErrorNumber::ConnectionRefused, "Connection is forcefully rejected."},
    ErrorText{WinsockErrorNumber::HostNotFound, "Authoritative answer: Host not found."},
    ErrorText{WinsockErrorNumber::BadState,
              "Wrong protocol or connection state for the requested transaction or request."},
    ErrorText{WinsockErrorNumber::InvalidArg, "The argument passed to a function was not in the "
                                              "correct format or in the specified range."},
    ErrorText{WinsockErrorNumber::InvalidOp, "Invalid operation at current state."},
    ErrorText{WinsockErrorNumber::WrongProtocol,
              "Wrong protocol for the requested transaction or request."},
};

} // namespace

WinsockError::WinsockError(std::int32_t number)
    : std::runtime_error(WinsockErrorText(number)), number_(number) {}

std::string WinsockErrorText(std::int32_t number) {
    for (const auto& entry : errorTexts) {
        if (entry.number == number)
            return entry.text;
    }
    return "Socket error " + IntToText(number) + ".";
}

std::int32_t WinsockErrorFromQt(QAbstractSocket::SocketError error) {
    using E = QAbstractSocket::SocketError;
    switch (error) {
    case E::ConnectionRefusedError:
        return WinsockErrorNumber::ConnectionRefused;
    case E::RemoteHostClosedError:
        return WinsockErrorNumber::ConnectionReset;
    case E::HostNotFoundError:
        return WinsockErrorNumber::HostNotFound;
    case E::SocketAccessError:
        return WinsockErrorNumber::PermissionDenied;
    case E::SocketResourceError:
        return WinsockErrorNumber::NoBufferSpace;
    case E::SocketTimeoutError:
        return WinsockErrorNumber::TimedOut;
    case E::DatagramTooLargeError:
        return WinsockErrorNumber::MsgTooBig;
    case E::NetworkError: // Qt reports ENETUNREACH and EHOSTUNREACH so
        return WinsockErrorNumber::NetworkUnreachable;
    case E::AddressInUseError:
        return WinsockErrorNumber::AddressInUse;
    case E::SocketAddressNotAvailableError:
        return WinsockErrorNumber::AddressNotAvailable;
    case E::TemporaryError:
        return WinsockErrorNumber::NoBufferSpace;
    default:
        return WinsockErrorNumber::NetworkSubsystemFailed;
    }
}

} // namespace ornbrook
