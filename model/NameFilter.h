#pragma once

#include <string_view>

namespace ornbrook {

// Whether a path relative to a watched folder ("2026-12-07/img_0001.jpg")
// matches a glob: "*" any run and "?" any one character, "[abc]", "[a-z]",
// "[!a-z]" one of a set, none of which ever matches "/"; "**" any run across
// folders, and "**/" any number of whole folders, none included; "\" takes the
// next character as it stands. A "[" without its "]" is itself. Letters
// compare as they are, or in either case (ASCII) with noCase.
bool GlobMatches(std::string_view glob, std::string_view path, bool noCase);

} // namespace ornbrook
