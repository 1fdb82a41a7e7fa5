// Glob matching: 100,000 names of 200 characters against 5 globs, the compiled
// matcher against the backtracking one it replaced (copied below as it was),
// on names where the old one does not backtrack; then the names of
// underscores that made the old one take minutes, at growing lengths.
#include "model/NameFilter.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

using namespace ornbrook;

namespace {

namespace backtracking {

char Fold(char c, bool noCase) {
    return noCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

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

bool GlobMatches(std::string_view glob, std::string_view path, bool noCase) {
    return Match(glob, 0, path, 0, noCase);
}

} // namespace backtracking

template <typename F> double Seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of a few runs: the machine is shared.
template <typename F> double Best(int runs, F&& f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, Seconds(f));
    return best;
}

} // namespace

int main() {
    const std::vector<std::string> globs = {"*.csv", "img_????.jpg", "*/*.JPG", "[0-9][0-9]*",
                                            "**/report-*.txt"};
    // Paths as cameras and exports name them, 200 characters each: a folder,
    // then a long name; every fifth ends in one of the globs' endings.
    std::mt19937 random(42);
    const char* endings[] = {".csv", ".jpg", ".JPG", ".txt", ".dat"};
    const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789_-";
    std::vector<std::string> names;
    for (int i = 0; i < 100'000; ++i) {
        std::string name = i % 3 == 0 ? "2026-12-07/" : i % 3 == 1 ? "img_" : "report-";
        while (name.size() < 196)
            name += letters[random() % letters.size()];
        name += endings[i % 5];
        names.push_back(std::move(name));
    }

    std::vector<Glob> compiled;
    for (const std::string& glob : globs)
        compiled.push_back(*Glob::Compile(glob, false));
    std::size_t oldCount = 0, newCount = 0;
    const double oldTime = Best(5, [&] {
        oldCount = 0;
        for (const std::string& name : names) {
            for (const std::string& glob : globs)
                oldCount += backtracking::GlobMatches(glob, name, false);
        }
    });
    const double newTime = Best(5, [&] {
        newCount = 0;
        for (const std::string& name : names) {
            for (const Glob& glob : compiled)
                newCount += glob.Matches(name);
        }
    });
    std::printf("%zu names of 200 characters against %zu globs (%zu matches)\n", names.size(),
                globs.size(), newCount);
    std::printf("  backtracking : %8.3f s\n", oldTime);
    std::printf("  compiled     : %8.3f s   (%.2fx the backtracking time, results %s)\n", newTime,
                newTime / oldTime, oldCount == newCount ? "identical" : "DIFFER");

    // The old matcher tries every split of the name among the stars: its time
    // grows with the cube of the length here, the new one's with the length.
    const std::string star = "*_*_*.csv";
    std::printf("\n%s against a name of N underscores (no match)\n", star.c_str());
    std::printf("  %8s %14s %14s\n", "N", "backtracking", "compiled");
    const Glob starGlob = *Glob::Compile(star, false);
    bool same = oldCount == newCount;
    for (const std::size_t n : {250u, 500u, 1000u, 2000u, 4000u, 8000u, 100'000u}) {
        const std::string name(n, '_');
        const int repeats = static_cast<int>(1'000'000 / n);
        bool matched = true;
        const double ours = Best(3,
                                 [&] {
                                     for (int i = 0; i < repeats; ++i)
                                         matched = starGlob.Matches(name) && matched;
                                 }) /
                            repeats;
        same = same && !matched;
        if (n <= 2000) {
            const double old =
                Best(1, [&] { same = same && !backtracking::GlobMatches(star, name, false); });
            std::printf("  %8zu %12.6f s %12.9f s\n", n, old, ours);
        } else {
            std::printf("  %8zu %14s %12.9f s\n", n, "(minutes)", ours);
        }
    }
    return same ? 0 : 1;
}
