#include "base/Text_Code.h"

namespace ornbrook {

std::string TrimAtNull(std::string_view text) {
    return std::string(text.substr(0, text.find('\0')));
}

std::string LeftFixed(std::string_view text, std::int64_t n, std::string_view fill) {
    if (n < 0)
        n = 0;
    const auto width = static_cast<std::size_t>(n);
    if (text.size() < width)
        return std::string(text) + std::string(width - text.size(), fill.empty() ? ' ' : fill[0]);
    return std::string(text.substr(0, width));
}

std::string RightFixed(std::string_view text, std::int64_t n, std::string_view fill) {
    if (n < 0)
        n = 0;
    const auto width = static_cast<std::size_t>(n);
    if (text.size() < width)
        return std::string(text) + std::string(width - text.size(), fill.empty() ? ' ' : fill[0]);
    return std::string(text.substr(text.size() - width));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return LeftFixed(text, static_cast<std::int64_t>(prefix.size()), " ") == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return RightFixed(text, static_cast<std::int64_t>(suffix.size()), " ") == suffix;
}

std::int32_t CountOf(std::string_view text, std::string_view part) {
    if (part.empty())
        return 0;
    std::int32_t count = 0;
    for (auto p = text.find(part); p != std::string_view::npos;
         p = text.find(part, p + part.size()))
        ++count;
    return count;
}

std::int32_t CountItems(std::string_view list, std::string_view sep) {
    std::string s(list);
    if (!EndsWith(s, sep))
        s += sep;
    if (!StartsWith(s, sep))
        s.insert(0, sep);
    return CountOf(s, sep) - 1;
}

std::string GetLastListItem(std::string_view list, std::string_view sep) {
    if (sep.empty() || !EndsWith(list, sep) || list.size() < sep.size())
        return {};
    const std::string_view s = list.substr(0, list.size() - sep.size());
    const auto p = s.rfind(sep);
    if (p == std::string_view::npos)
        return {};
    return std::string(s.substr(p + sep.size()));
}

std::string RemoveLastItem(std::string_view list, std::string_view sep) {
    if (list.empty())
        return {};
    const std::size_t drop = GetLastListItem(list, sep).size() + sep.size();
    if (drop >= list.size())
        return {};
    return std::string(list.substr(0, list.size() - drop));
}

std::string AddItem(std::string_view list, std::string_view item, std::string_view sep) {
    std::string s = list.empty() ? std::string(sep) : std::string(list);
    s += item;
    s += sep;
    return s;
}

std::string TrimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string UpperCase(std::string_view text) {
    std::string s(text);
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

std::string LowerCase(std::string_view text) {
    std::string s(text);
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty())
        return std::string(text);
    std::string result;
    std::size_t start = 0;
    for (auto p = text.find(from); p != std::string_view::npos; p = text.find(from, start)) {
        result.append(text.substr(start, p - start));
        result.append(to);
        start = p + from.size();
    }
    result.append(text.substr(start));
    return result;
}

namespace {

// The length of the valid UTF-8 sequence at the start of text (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), 0 when there is none.
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

// C1 controls (NEL among them) and the line and paragraph separators: valid
// UTF-8 that some terminals and viewers take as a line break.
bool IsLineBreakOrControl(std::string_view character) {
    return (character[0] == '\xc2' && static_cast<unsigned char>(character[1]) < 0xa0) ||
           character == "\xe2\x80\xa8" || character == "\xe2\x80\xa9";
}

} // namespace

std::string EscapedText(std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            if (byte == '\\')
                out += '\\';
            out += static_cast<char>(byte);
            ++i;
        } else if (byte == '\t' || byte == '\n' || byte == '\r') {
            out += '\\';
            out += byte == '\t' ? 't' : byte == '\n' ? 'n' : 'r';
            ++i;
        } else if (const std::size_t length = byte >= 0x80 ? Utf8Length(text.substr(i)) : 0;
                   length > 0 && !IsLineBreakOrControl(text.substr(i, length))) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\\x";
            out += Hex[byte >> 4];
            out += Hex[byte & 15];
            ++i;
        }
    }
    return out;
}

} // namespace ornbrook
