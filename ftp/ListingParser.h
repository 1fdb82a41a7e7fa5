#pragma once

#include "ftp/FtpSettings.h"

#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// Turns the bytes of a directory listing into names, within the listing caps.
// NLST lines are names as they stand; MLSD lines (RFC 3659 7.2) are "facts SP name",
// and the entries typed cdir or pdir (the directory itself, its parent) are skipped.
// Names are kept byte for byte: blanks at either end and non-UTF-8 bytes included.
class ListingParser final {
public:
    ListingParser(bool machineListing, const FtpLimits& limits);

    // False once a cap is exceeded; the listing is then unusable.
    bool Feed(std::string_view data);
    // Takes a last line without a line end.
    bool Finish();
    std::vector<std::string> TakeNames() { return std::move(names_); }

private:
    bool AddLine(std::string_view line);

    bool machineListing_;
    FtpLimits limits_;
    std::string partial_;
    std::size_t totalBytes_ = 0;
    std::vector<std::string> names_;
};

} // namespace ornbrook
