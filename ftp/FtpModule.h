#pragma once

#include "base/Url.h"

#include <cstdint>
#include <string>

namespace ornbrook {

// The parts of a watched URL that a check needs to log in and reach a
// directory: the pieces of a Url under their old names.
struct FtpURL {
    std::string Scheme;
    std::string User;
    std::string Pass;
    std::string Host;
    std::int32_t Port = 0;
    std::string Path;
};

// Splits any text into an FtpURL; never fails (see Url).
FtpURL ParseURL(const std::string& url);

// How an FTP session protects its connections (see Url::Protocol).
enum class TlsMode { None, Explicit, Implicit };
TlsMode TlsModeOf(const Url& url);

} // namespace ornbrook
