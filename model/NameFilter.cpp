#include "model/NameFilter.h"

#include <cstddef>

namespace ornbrook {

namespace {

char Fold(char c, bool noCase) {
    return noCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where the set that opens at glob[open] ends (its "]"), or npos: a "]" right
// after the opening (or after "!" / "^") is a member, not the end.
std::size_t SetEnd(std::string_view glob, std::size_t open) {
    std::size_t i = open + 1;
    if (i < glob.size() && (glob[i] == '!' || glob[i] == '^'))
        ++i;
    if (i < glob.size() && glob[i] == ']')
        ++i;
    for (; i < glob.size(); ++i) {
        if (glob[i] == ']')
            return i;
    }
    return std::string_view::npos;
}

bool InSet(std::string_view glob, std::size_t open, std::size_t close, char c, bool noCase) {
    std::size_t i = open + 1;
    const bool negated = glob[i] == '!' || glob[i] == '^';
    if (negated)
        ++i;
    const char folded = Fold(c, noCase);
    bool found = false;
    for (; i < close; ++i) {
        if (i + 2 < close && glob[i + 1] == '-') {
            const char low = Fold(glob[i], noCase), high = Fold(glob[i + 2], noCase);
            found = found || (low <= folded && folded <= high) || (low <= c && c <= high);
            i += 2;
        } else {
            found = found || Fold(glob[i], noCase) == folded;
        }
    }
    return found != negated;
}

bool Match(std::string_view glob, std::size_t p, std::string_view path, std::size_t s,
           bool noCase) {
    while (p < glob.size()) {
        char c = glob[p];
        if (c == '*') {
            if (p + 1 < glob.size() && glob[p + 1] == '*') {
                const std::size_t after = p + 2;
                if (after < glob.size() && glob[after] == '/') {
                    // "**/": none or any number of whole folders.
                    if (Match(glob, after + 1, path, s, noCase))
                        return true;
                    for (std::size_t i = s; i < path.size(); ++i) {
                        if (path[i] == '/' && Match(glob, after + 1, path, i + 1, noCase))
                            return true;
                    }
                    return false;
                }
                for (std::size_t i = s; i <= path.size(); ++i) {
                    if (Match(glob, after, path, i, noCase))
                        return true;
                }
                return false;
            }
            for (std::size_t i = s;; ++i) {
                if (Match(glob, p + 1, path, i, noCase))
                    return true;
                if (i == path.size() || path[i] == '/')
                    return false;
            }
        }
        if (s == path.size())
            return false;
        if (c == '?') {
            if (path[s] == '/')
                return false;
            ++p;
            ++s;
            continue;
        }
        if (c == '[') {
            if (const std::size_t close = SetEnd(glob, p); close != std::string_view::npos) {
                if (path[s] == '/' || !InSet(glob, p, close, path[s], noCase))
                    return false;
                p = close + 1;
                ++s;
                continue;
            }
        }
        if (c == '\\' && p + 1 < glob.size())
            c = glob[++p];
        if (Fold(c, noCase) != Fold(path[s], noCase))
            return false;
        ++p;
        ++s;
    }
    return s == path.size();
}

} // namespace

bool GlobMatches(std::string_view glob, std::string_view path, bool noCase) {
    return Match(glob, 0, path, 0, noCase);
}

} // namespace ornbrook
