#include "net/StateCode.h"

#include "net/WinsockControl.h"

namespace ornbrook {

std::int32_t StateCode(std::int32_t controlState) {
    switch (controlState) {
    case WinsockControl::sckClosed:
    case WinsockControl::sckOpen:
    case WinsockControl::sckClosing:
    case WinsockControl::sckError:
        return 1;
    case WinsockControl::sckListening:
        return 2;
    case WinsockControl::sckConnectionPending:
    case WinsockControl::sckResolvingHost:
    case WinsockControl::sckHostResolved:
    case WinsockControl::sckConnecting:
        return 3;
    case WinsockControl::sckConnected:
        return 4;
    default:
        return 0;
    }
}

} // namespace ornbrook
