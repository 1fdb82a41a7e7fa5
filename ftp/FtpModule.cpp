#include "ftp/FtpModule.h"

namespace ornbrook {

FtpURL ParseURL(const std::string& url) {
    const Url parsed(url);
    return {parsed.Scheme(), parsed.User(), parsed.Pass(),
            parsed.Host(),   parsed.Port(), parsed.Path()};
}

TlsMode TlsModeOf(const Url& url) {
    switch (url.Speaks()) {
    case Url::Protocol::FtpExplicitTls:
        return TlsMode::Explicit;
    case Url::Protocol::FtpImplicitTls:
        return TlsMode::Implicit;
    default:
        return TlsMode::None;
    }
}

} // namespace ornbrook
