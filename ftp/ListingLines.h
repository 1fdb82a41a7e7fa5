#pragma once

#include "ftp/ListedEntry.h"

#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// What one line of a listing is.
enum class LineKind {
    // An entry of the directory.
    Entry,
    // No entry: a blank line, "total N", the directory itself or its parent.
    Skip,
    // An MLSD line in which "; " occurs more than once: a fact value may hold
    // it, so where the facts end and the name begins cannot be told.
    Ambiguous,
    // Of no known style (LIST), or without the shape of an MLSD line.
    Unrecognised,
};

// One line of MLSD (RFC 3659 7.2), without its line end: "facts; name", where
// the facts end at the first "; " and the rest of the line, spaces included,
// is the name; a line that starts with a space has no facts. Real servers put
// spaces into fact values (Pure-FTPd: "type=OS.unix=slink:a b;"), so a space
// alone ends nothing. Entries typed cdir or pdir are skipped.
LineKind ParseMachineLine(std::string_view line, ListedEntry& entry);

// One line of LIST, without its line end, in Unix "ls -l" style (8 or 9
// columns, named or numeric owners, device files, "name -> target" for links,
// "Mon DD HH:MM" and "Mon DD YYYY" dates, "total N") or DOS/IIS style
// ("MM-DD-YY  HH:MMAM  <DIR>|size  name"). The name is the rest of the line
// after the one space that follows the date column (the size column in DOS
// style), so leading spaces survive.
LineKind ParseLongLine(std::string_view line, ListedEntry& entry);

// Names the entries of ambiguous MLSD lines from NLST of the same directory:
// a line's name is the one listed name, not taken by another entry, that ends
// the line after "; "; its facts are what comes before. entries holds the
// listing with a placeholder at each index in `at`, lines the ambiguous lines
// in the same order. Entries that turn out to be the directory itself or its
// parent are removed. False, never a guess, when a line has no such name or
// more than one.
bool NameAmbiguousLines(std::vector<ListedEntry>& entries, const std::vector<std::size_t>& at,
                        const std::vector<std::string>& lines,
                        const std::vector<std::string>& names);

} // namespace ornbrook
