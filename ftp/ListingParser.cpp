#include "ftp/ListingParser.h"

#include "base/Text_Code.h"

namespace ornbrook {

namespace {

bool IsDirectoryItself(std::string_view facts) {
    const std::string lower = LowerCase(facts);
    std::string_view rest = lower;
    while (!rest.empty()) {
        const auto end = rest.find(';');
        const std::string_view fact = rest.substr(0, end);
        if (fact == "type=cdir" || fact == "type=pdir")
            return true;
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return false;
}

// "total 0", the block count that ls-style listings put first.
bool IsTotalLine(std::string_view line) {
    const std::string lower = LowerCase(line.substr(0, 6));
    if (lower != "total ")
        return false;
    line.remove_prefix(6);
    return !line.empty() && line.find_first_not_of("0123456789 ") == std::string_view::npos;
}

} // namespace

ListingParser::ListingParser(ListingForm form, const FtpLimits& limits)
    : form_(form), limits_(limits) {}

bool ListingParser::Feed(std::string_view data) {
    totalBytes_ += data.size();
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
    return true;
}

bool ListingParser::Finish() {
    if (partial_.empty())
        return true;
    const bool ok = AddLine(partial_);
    partial_.clear();
    return ok;
}

bool ListingParser::AddLine(std::string_view line) {
    // Listings come in ASCII type, lines end in CRLF; a bare LF is accepted too.
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (form_ == ListingForm::Long && IsTotalLine(line))
        return true;
    if (form_ == ListingForm::Machine) {
        // Fact values hold no space, so the first one ends the facts.
        const auto space = line.find(' ');
        if (space == std::string_view::npos || IsDirectoryItself(line.substr(0, space)))
            return true;
        line.remove_prefix(space + 1);
    }
    if (line.empty())
        return true;
    if (names_.size() >= limits_.ListingNames)
        return false;
    names_.emplace_back(line);
    return true;
}

} // namespace ornbrook
