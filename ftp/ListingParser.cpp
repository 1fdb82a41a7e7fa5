#include "ftp/ListingParser.h"

#include "base/Text_Code.h"
#include "ftp/ListingLines.h"

namespace ornbrook {

ListingParser::ListingParser(ListingForm form, const FtpLimits& limits)
    : form_(form), limits_(limits) {}

bool ListingParser::Take(std::string_view data) {
    totalBytes_ += data.size();
    full_ = true;
    if (totalBytes_ > limits_.ListingBytes)
        return false;
    for (;;) {
        const auto lf = data.find('\n');
        if (lf == std::string_view::npos)
            break;
        if (partial_.size() + lf > limits_.ListingLine)
            return false;
        partial_.append(data.substr(0, lf));
        data.remove_prefix(lf + 1);
        if (!AddLine(partial_))
            return false;
        partial_.clear();
    }
    if (partial_.size() + data.size() > limits_.ListingLine)
        return false;
    partial_.append(data);
    full_ = false;
    return true;
}

bool ListingParser::Finish() {
    if (partial_.empty())
        return true;
    const bool ok = AddLine(partial_);
    partial_.clear();
    full_ = !ok;
    return ok;
}

bool ListingParser::AddLine(std::string_view line) {
    // Listings come in ASCII type, lines end in CRLF; a bare LF is accepted too.
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    ListedEntry entry;
    LineKind kind = LineKind::Entry;
    if (form_ == ListingForm::Machine)
        kind = ParseMachineLine(line, entry);
    else if (form_ == ListingForm::Long)
        kind = ParseLongLine(line, entry);
    else if (line.empty())
        kind = LineKind::Skip;
    else
        entry.Name = line;
    // "LIST -a" and "NLST -a" name the folder itself and its parent once each;
    // another entry of such a name (or a file of it) is the server's doing and
    // stays, to be refused with a message.
    if (kind == LineKind::Entry && form_ != ListingForm::Machine &&
        (entry.Name == "." || entry.Name == "..") &&
        (entry.Type == EntryType::Folder || entry.Type == EntryType::Unknown)) {
        bool& seen = entry.Name == "." ? sawSelf_ : sawParent_;
        if (!seen) {
            seen = true;
            return true;
        }
    }
    if (kind == LineKind::Skip)
        return true;
    if (kind == LineKind::Unrecognised) {
        ++listing_.Unrecognised;
        listing_.UnrecognisedLines.emplace_back(line);
        return true;
    }
    if (listing_.Entries.size() >= limits_.ListingNames)
        return false;
    if (kind == LineKind::Ambiguous) {
        listing_.AmbiguousAt.push_back(listing_.Entries.size());
        listing_.AmbiguousLines.emplace_back(line);
    }
    listing_.Entries.push_back(std::move(entry));
    return true;
}

} // namespace ornbrook
