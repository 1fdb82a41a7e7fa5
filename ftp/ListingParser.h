#pragma once

#include "ftp/FtpSettings.h"

#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// The three listings a server can give.
enum class ListingForm {
    // NLST: one name per line, as it stands.
    Names,
    // MLSD (RFC 3659 7.2): "facts SP name"; entries typed cdir or pdir (the
    // directory itself, its parent) are skipped.
    Machine,
    // LIST: one line per entry in the server's own format; only counted, and a
    // "total N" line is no entry.
    Long,
};

// Turns the bytes of a directory listing into names (entry lines for LIST),
// within the listing caps. Names are kept byte for byte: blanks at either end and
// non-UTF-8 bytes included.
class ListingParser final {
public:
    ListingParser(ListingForm form, const FtpLimits& limits);

    // False once a cap is exceeded; the listing is then unusable.
    bool Feed(std::string_view data);
    // Takes a last line without a line end.
    bool Finish();
    std::vector<std::string> TakeNames() { return std::move(names_); }

private:
    bool AddLine(std::string_view line);

    ListingForm form_;
    FtpLimits limits_;
    std::string partial_;
    std::size_t totalBytes_ = 0;
    std::vector<std::string> names_;
};

} // namespace ornbrook
