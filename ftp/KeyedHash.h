#pragma once

#include <string>
#include <string_view>

namespace ornbrook {

// HMAC-SHA-256 (RFC 2104) of text under key: 32 bytes. Without the key, the
// hash tells nothing of the text, however few its possible values.
std::string HmacSha256(std::string_view key, std::string_view text);

} // namespace ornbrook
