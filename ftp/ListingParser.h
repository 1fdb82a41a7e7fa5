#pragma once

#include "ftp/DataTransfer.h"
#include "ftp/FtpSettings.h"
#include "ftp/ListedEntry.h"

#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// The three listings a server can give.
enum class ListingForm {
    // NLST: one name per line, as it stands.
    Names,
    // MLSD (RFC 3659 7.2): "facts; name" (see ParseMachineLine).
    Machine,
    // LIST: one line per entry in the server's own format (see ParseLongLine).
    Long,
};

// A listing as its lines gave it.
struct ParsedListing {
    // In server order. Where an MLSD line was ambiguous, its entry is a
    // placeholder until NameAmbiguousLines names it.
    std::vector<ListedEntry> Entries;
    std::vector<std::size_t> AmbiguousAt;
    std::vector<std::string> AmbiguousLines;
    // Lines of no known style (LIST), or without the shape of an MLSD line,
    // and their texts (within the listing caps).
    std::size_t Unrecognised = 0;
    std::vector<std::string> UnrecognisedLines;
};

// Turns the bytes of a directory listing into entries, within the listing
// caps. Names are kept byte for byte: blanks at either end and non-UTF-8 bytes
// included. The folder's own "." and ".." (MLSD's cdir and pdir, the first of
// each in LIST and NLST) are left out; any other name is kept, to be judged.
class ListingParser final : public ByteSink {
public:
    ListingParser(ListingForm form, const FtpLimits& limits);

    // False once a cap is exceeded; the listing is then unusable.
    bool Take(std::string_view data) override;
    // Takes a last line without a line end.
    bool Finish();
    bool Full() const { return full_; }
    ParsedListing TakeListing() { return std::move(listing_); }

private:
    bool AddLine(std::string_view line);

    ListingForm form_;
    FtpLimits limits_;
    std::string partial_;
    std::size_t totalBytes_ = 0;
    bool full_ = false;
    bool sawSelf_ = false;
    bool sawParent_ = false;
    ParsedListing listing_;
};

} // namespace ornbrook
