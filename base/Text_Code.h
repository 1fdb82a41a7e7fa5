#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ornbrook {

// Prefix and suffix tests, separator lists ("|a|b|c|") and small text helpers.
// All comparisons are exact and case-sensitive.

// The text before its first NUL byte.
std::string TrimAtNull(std::string_view text);

// Shorter than n: padded on the right with the first character of fill;
// otherwise the first (LeftFixed) or last (RightFixed) n characters.
std::string LeftFixed(std::string_view text, std::int64_t n, std::string_view fill);
std::string RightFixed(std::string_view text, std::int64_t n, std::string_view fill);

// Compared against the text blank-padded to the prefix's length, so a text
// shorter than the prefix matches when the prefix is the text plus blanks only.
bool StartsWith(std::string_view text, std::string_view prefix);
bool EndsWith(std::string_view text, std::string_view suffix);

// Number of non-overlapping occurrences of part (part must not be empty).
std::int32_t CountOf(std::string_view text, std::string_view part);

std::int32_t CountItems(std::string_view list, std::string_view sep);
std::string GetLastListItem(std::string_view list, std::string_view sep);
std::string RemoveLastItem(std::string_view list, std::string_view sep);
std::string AddItem(std::string_view list, std::string_view item, std::string_view sep);

// Leading and trailing blanks (spaces only) removed.
std::string TrimSpaces(std::string_view text);
// ASCII upper case; other bytes unchanged.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Every occurrence of from replaced by to.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// A name, URL or message from outside as it may be printed, logged or shown,
// so that one entry is always one line and cannot pose as another: a
// backslash becomes "\\", tab, line feed and carriage return "\t", "\n",
// "\r"; every other control byte (below 0x20, 0x7F), every byte that is not
// part of valid UTF-8, and the bytes of the C1 controls and the line and
// paragraph separators (U+0080 to U+009F, U+2028, U+2029) "\xNN" (two
// lower-case hex digits). All other UTF-8 passes unchanged.
std::string EscapedText(std::string_view text);

} // namespace ornbrook
