#include "ftp/KeyedHash.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

namespace ornbrook {

std::string HmacSha256(std::string_view key, std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest, &length))
        throw std::runtime_error("HMAC-SHA-256 is not available");
    return std::string(reinterpret_cast<const char*>(digest), length);
}

} // namespace ornbrook
