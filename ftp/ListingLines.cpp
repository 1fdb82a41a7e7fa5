#include "ftp/ListingLines.h"

#include "base/Text_Code.h"

#include <cctype>
#include <cstdint>
#include <map>
#include <optional>

namespace ornbrook {

namespace {

bool IsDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::optional<std::uint64_t> ToCount(std::string_view text) {
    if (!IsDigits(text))
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// A number of one to `digits` digits within [low, high].
template <typename Field>
bool ReadSmall(std::string_view text, std::size_t digits, int low, int high, Field& field) {
    if (!IsDigits(text) || text.size() > digits)
        return false;
    int value = 0;
    for (const char c : text)
        value = value * 10 + (c - '0');
    field = static_cast<Field>(value);
    return value >= low && value <= high;
}

// ---- MLSD -------------------------------------------------------------------

// "YYYYMMDDHHMMSS" with optional fractions of a second, in UTC (RFC 3659 2.3).
std::optional<ListedTime> MachineTime(std::string_view value) {
    if (value.size() < 14 || (value.size() > 14 && value[14] != '.'))
        return std::nullopt;
    ListedTime t;
    if (!ReadSmall(value.substr(0, 4), 4, 0, 9999, t.Year) ||
        !ReadSmall(value.substr(4, 2), 2, 1, 12, t.Month) ||
        !ReadSmall(value.substr(6, 2), 2, 1, 31, t.Day) ||
        !ReadSmall(value.substr(8, 2), 2, 0, 23, t.Hour) ||
        !ReadSmall(value.substr(10, 2), 2, 0, 59, t.Minute) ||
        !ReadSmall(value.substr(12, 2), 2, 0, 60, t.Second))
        return std::nullopt;
    t.Precision = ListedTime::Resolution::Second;
    t.Utc = true;
    return t;
}

void TakeType(std::string_view value, ListedEntry& entry, bool& directoryItself) {
    const std::string lower = LowerCase(value);
    if (lower == "cdir" || lower == "pdir") {
        directoryItself = true;
    } else if (lower == "file") {
        entry.Type = EntryType::File;
    } else if (lower == "dir") {
        entry.Type = EntryType::Folder;
    } else if (StartsWith(lower, "os.unix=slink") || StartsWith(lower, "os.unix=symlink")) {
        // Pure-FTPd names the target after a colon: "OS.unix=slink:/a b".
        entry.Type = EntryType::Link;
        if (const auto colon = value.find(':'); colon != std::string_view::npos)
            entry.LinkTarget = value.substr(colon + 1);
    } else {
        entry.Type = EntryType::Other;
    }
}

// "fact=value;fact=value;" (RFC 3659 7.2). A piece without "=" continues the
// value before it, which held a ";". False when the first piece is no fact.
bool ReadFacts(std::string_view facts, ListedEntry& entry, bool& directoryItself) {
    std::vector<std::pair<std::string, std::string>> read;
    while (!facts.empty()) {
        const auto semicolon = facts.find(';');
        const std::string_view piece = facts.substr(0, semicolon);
        facts.remove_prefix(semicolon == std::string_view::npos ? facts.size() : semicolon + 1);
        const auto equals = piece.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            if (read.empty())
                return false;
            read.back().second += ";";
            read.back().second += piece;
            continue;
        }
        read.emplace_back(LowerCase(piece.substr(0, equals)), piece.substr(equals + 1));
    }
    directoryItself = false;
    for (const auto& [name, value] : read) {
        if (name == "type")
            TakeType(value, entry, directoryItself);
        else if (name == "size")
            entry.Size = ToCount(value);
        else if (name == "modify")
            entry.Modified = MachineTime(value).value_or(ListedTime{});
    }
    return true;
}

// ---- LIST -------------------------------------------------------------------

struct Token {
    std::size_t Begin = 0;
    std::size_t End = 0;
};

// The first `most` runs of non-blanks, with where they stand.
std::vector<Token> Tokenize(std::string_view line, std::size_t most) {
    std::vector<Token> tokens;
    std::size_t pos = 0;
    while (tokens.size() < most) {
        const auto begin = line.find_first_not_of(' ', pos);
        if (begin == std::string_view::npos)
            break;
        auto end = line.find(' ', begin);
        if (end == std::string_view::npos)
            end = line.size();
        tokens.push_back({begin, end});
        pos = end;
    }
    return tokens;
}

std::string_view TextOf(std::string_view line, const Token& token) {
    return line.substr(token.Begin, token.End - token.Begin);
}

// "total 0", the block count that ls-style listings put first.
bool IsTotalLine(std::string_view line) {
    if (LowerCase(line.substr(0, 6)) != "total ")
        return false;
    line.remove_prefix(6);
    return !line.empty() && line.find_first_not_of("0123456789 ") == std::string_view::npos;
}

// "drwxr-xr-x", perhaps with a mark of further permissions ("+", "@", ".").
bool IsMode(std::string_view mode) {
    if (mode.size() < 10 || mode.size() > 11 ||
        std::string_view("-dlcbpsD").find(mode[0]) == std::string_view::npos)
        return false;
    if (mode.substr(1, 9).find_first_not_of("rwxsStTlL-") != std::string_view::npos)
        return false;
    return mode.size() == 10 || std::string_view("+@.").find(mode[10]) != std::string_view::npos;
}

int MonthOf(std::string_view text) {
    static constexpr const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                             "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3)
        return 0;
    const std::string lower = LowerCase(text);
    for (int m = 0; m < 12; ++m) {
        if (lower == months[m])
            return m + 1;
    }
    return 0;
}

// "HH:MM" or "H:MM".
bool ReadClock(std::string_view text, std::uint8_t& hour, std::uint8_t& minute) {
    const auto colon = text.find(':');
    return colon != std::string_view::npos && ReadSmall(text.substr(0, colon), 2, 0, 23, hour) &&
           text.size() - colon == 3 && ReadSmall(text.substr(colon + 1), 2, 0, 59, minute);
}

// "Mon DD HH:MM" or "Mon DD YYYY" at tokens i, i + 1, i + 2.
bool ReadUnixDate(std::string_view line, const std::vector<Token>& tokens, std::size_t i,
                  ListedTime& t) {
    t = ListedTime{};
    t.Month = MonthOf(TextOf(line, tokens[i]));
    if (t.Month == 0 || !ReadSmall(TextOf(line, tokens[i + 1]), 2, 1, 31, t.Day))
        return false;
    const std::string_view last = TextOf(line, tokens[i + 2]);
    if (ReadClock(last, t.Hour, t.Minute)) {
        t.Precision = ListedTime::Resolution::Minute;
        return true;
    }
    t.Precision = ListedTime::Resolution::Day;
    return last.size() == 4 && ReadSmall(last, 4, 1900, 9999, t.Year);
}

// The size column before the date: digits, or "major, minor" for a device.
bool ReadSizeColumn(std::string_view line, const std::vector<Token>& tokens, std::size_t i,
                    bool device, ListedEntry& entry) {
    const std::string_view size = TextOf(line, tokens[i - 1]);
    if (device) {
        const std::string_view before = TextOf(line, tokens[i - 2]);
        return IsDigits(size) ? before.back() == ',' : size.find(',') != std::string_view::npos;
    }
    entry.Size = ToCount(size);
    return entry.Size.has_value();
}

bool ParseUnixLine(std::string_view line, ListedEntry& entry) {
    // Mode, links, owner, group, size (or device numbers), three date columns.
    const std::vector<Token> tokens = Tokenize(line, 11);
    if (tokens.size() < 7 || !IsMode(TextOf(line, tokens[0])))
        return false;
    const char kind = line[tokens[0].Begin];
    const bool device = kind == 'c' || kind == 'b';
    // The date comes after at least four columns: mode, links or owner, owner
    // or group, size. An owner named like a month fails the checks around it.
    for (std::size_t i = 4; i + 2 < tokens.size() && i <= 7; ++i) {
        entry = ListedEntry{};
        if (!ReadUnixDate(line, tokens, i, entry.Modified) ||
            !ReadSizeColumn(line, tokens, i, device, entry))
            continue;
        const std::size_t nameBegin = tokens[i + 2].End + 1;
        if (nameBegin >= line.size())
            return false;
        entry.Name = line.substr(nameBegin);
        entry.Type = kind == '-'   ? EntryType::File
                     : kind == 'd' ? EntryType::Folder
                     : kind == 'l' ? EntryType::Link
                                   : EntryType::Other;
        if (entry.Type == EntryType::Link) {
            if (const auto arrow = entry.Name.find(" -> "); arrow != std::string::npos) {
                entry.LinkTarget = entry.Name.substr(arrow + 4);
                entry.Name.resize(arrow);
            }
        }
        return !entry.Name.empty();
    }
    return false;
}

// "MM-DD-YY" or "MM-DD-YYYY", then "HH:MMAM", "HH:MMPM" or "HH:MM".
bool ReadDosDate(std::string_view date, std::string_view clock, ListedTime& t) {
    t = ListedTime{};
    if ((date.size() != 8 && date.size() != 10) || date[2] != '-' || date[5] != '-' ||
        !ReadSmall(date.substr(0, 2), 2, 1, 12, t.Month) ||
        !ReadSmall(date.substr(3, 2), 2, 1, 31, t.Day) ||
        !ReadSmall(date.substr(6), 4, 0, 9999, t.Year))
        return false;
    if (date.size() == 8)
        t.Year += t.Year < 70 ? 2000 : 1900;
    std::string suffix;
    if (clock.size() > 2 && !std::isdigit(static_cast<unsigned char>(clock.back()))) {
        suffix = UpperCase(clock.substr(clock.size() - 2));
        clock.remove_suffix(2);
    }
    if (!ReadClock(clock, t.Hour, t.Minute))
        return false;
    if (!suffix.empty()) {
        if ((suffix != "AM" && suffix != "PM") || t.Hour < 1 || t.Hour > 12)
            return false;
        t.Hour = t.Hour % 12 + (suffix == "PM" ? 12 : 0);
    }
    t.Precision = ListedTime::Resolution::Minute;
    return true;
}

bool ParseDosLine(std::string_view line, ListedEntry& entry) {
    const std::vector<Token> tokens = Tokenize(line, 3);
    entry = ListedEntry{};
    if (tokens.size() < 3 ||
        !ReadDosDate(TextOf(line, tokens[0]), TextOf(line, tokens[1]), entry.Modified))
        return false;
    const std::string_view third = TextOf(line, tokens[2]);
    std::size_t nameBegin = tokens[2].End + 1;
    if (UpperCase(third) == "<DIR>") {
        // IIS pads "<DIR>" with ten blanks up to the name column.
        nameBegin = tokens[2].End;
        while (nameBegin < line.size() && line[nameBegin] == ' ' && nameBegin - tokens[2].End < 10)
            ++nameBegin;
        entry.Type = EntryType::Folder;
    } else {
        entry.Size = ToCount(third);
        if (!entry.Size)
            return false;
        entry.Type = EntryType::File;
    }
    if (nameBegin >= line.size())
        return false;
    entry.Name = line.substr(nameBegin);
    return true;
}

} // namespace

LineKind ParseMachineLine(std::string_view line, ListedEntry& entry) {
    entry = ListedEntry{};
    if (line.empty())
        return LineKind::Skip;
    if (line.front() == ' ') {
        if (line.size() == 1)
            return LineKind::Unrecognised;
        entry.Name = line.substr(1);
        return LineKind::Entry;
    }
    const auto end = line.find("; ");
    bool directoryItself = false;
    if (end == std::string_view::npos ||
        !ReadFacts(line.substr(0, end + 1), entry, directoryItself))
        return LineKind::Unrecognised;
    if (directoryItself)
        return LineKind::Skip;
    if (line.find("; ", end + 1) != std::string_view::npos) {
        entry = ListedEntry{};
        return LineKind::Ambiguous;
    }
    if (end + 2 >= line.size())
        return LineKind::Unrecognised;
    entry.Name = line.substr(end + 2);
    return LineKind::Entry;
}

LineKind ParseLongLine(std::string_view line, ListedEntry& entry) {
    entry = ListedEntry{};
    if (line.find_first_not_of(' ') == std::string_view::npos || IsTotalLine(line))
        return LineKind::Skip;
    if (ParseUnixLine(line, entry) || ParseDosLine(line, entry))
        return LineKind::Entry;
    entry = ListedEntry{};
    return LineKind::Unrecognised;
}

namespace {

// The name of each ambiguous line among the listed names left: the one that
// ends the line after "; ". A line whose one candidate is taken may leave
// another line with one: a few rounds settle every case but contrived ones,
// whose lines stay unnamed (empty).
std::vector<std::string_view> MatchNames(const std::vector<std::string>& lines,
                                         std::map<std::string_view, int>& left) {
    std::vector<std::string_view> named(lines.size());
    for (int round = 0; round < 4; ++round) {
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (!named[k].empty())
                continue;
            const std::string_view line = lines[k];
            auto found = left.end();
            int candidates = 0;
            for (auto pos = line.find("; "); pos != std::string_view::npos;
                 pos = line.find("; ", pos + 1)) {
                const auto it = left.find(line.substr(pos + 2));
                if (it != left.end() && it->second > 0) {
                    found = it;
                    ++candidates;
                }
            }
            if (candidates == 1) {
                named[k] = found->first;
                --found->second;
            }
        }
    }
    return named;
}

} // namespace

bool NameAmbiguousLines(std::vector<ListedEntry>& entries, const std::vector<std::size_t>& at,
                        const std::vector<std::string>& lines,
                        const std::vector<std::string>& names) {
    // The listed names no unambiguous entry has taken, with how often each is left.
    std::map<std::string_view, int> left;
    for (const std::string& name : names) {
        if (name != "." && name != "..")
            ++left[name];
    }
    std::vector<bool> placeholder(entries.size(), false);
    for (const std::size_t i : at)
        placeholder[i] = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto it = left.find(entries[i].Name);
        if (!placeholder[i] && it != left.end() && it->second > 0)
            --it->second;
    }
    const std::vector<std::string_view> named = MatchNames(lines, left);
    std::vector<bool> drop(entries.size(), false);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (named[k].empty())
            return false;
        ListedEntry& entry = entries[at[k]];
        entry = ListedEntry{};
        const std::string_view line = lines[k];
        bool directoryItself = false;
        if (!ReadFacts(line.substr(0, line.size() - named[k].size() - 1), entry, directoryItself))
            return false;
        entry.Name = named[k];
        drop[at[k]] = directoryItself;
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (drop[i])
            continue;
        if (kept != i)
            entries[kept] = std::move(entries[i]);
        ++kept;
    }
    entries.resize(kept);
    return true;
}

} // namespace ornbrook
