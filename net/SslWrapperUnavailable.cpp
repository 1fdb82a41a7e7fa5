#include "net/SslWrapper.h"

// Stands in for the SSL library where it is not built: every session fails to
// start, so a socket with SSLEnable reports "error on initializing ssl".
namespace ornbrook {

std::int32_t ssl_init_client(std::int32_t, const std::string&) {
    return 0;
}
std::int32_t ssl_init_server(std::int32_t, const std::string&, const std::string&) {
    return 0;
}
std::int32_t ssl_send(std::int32_t, const void*, std::int32_t) {
    return -1;
}
std::int32_t ssl_recv(std::int32_t, void*, std::int32_t) {
    return -1;
}
std::int32_t ssl_getcipher(std::int32_t, char* buffer, std::int32_t capacity) {
    if (buffer != nullptr && capacity > 0)
        buffer[0] = '\0';
    return 0;
}
std::int32_t ssl_getsubject(std::int32_t session, char* buffer, std::int32_t capacity) {
    return ssl_getcipher(session, buffer, capacity);
}
std::int32_t ssl_getissuer(std::int32_t session, char* buffer, std::int32_t capacity) {
    return ssl_getcipher(session, buffer, capacity);
}
std::int32_t ssl_getverify(std::int32_t) {
    return -1;
}
std::int32_t ssl_cleanup(std::int32_t) {
    return 0;
}

} // namespace ornbrook
