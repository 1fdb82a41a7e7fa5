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

} // namespace ornbrook
