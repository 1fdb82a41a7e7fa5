#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

namespace test {
struct GlobProbe;
}

// Whether a path relative to a watched folder ("2026-12-07/img_0001.jpg")
// matches a glob: "*" any run and "?" any one character, "[abc]", "[a-z]",
// "[!a-z]" one of a set, none of which ever matches "/"; "**" any run across
// folders, and "**/" any number of whole folders, none included; "\" takes the
// next character as it stands. Letters compare as they are, or in either case
// (ASCII) with noCase.
//
// A glob is compiled once into the states of its pieces and a path is matched
// by carrying the set of states reached along it, one character at a time,
// never going back: at most (path length + 1) x (glob length + 2) steps, each a
// few word operations, whatever the glob and the path.
class Glob final {
public:
    // The glob compiled, or none with the reason in problem (see GlobProblem).
    static std::optional<Glob> Compile(std::string_view glob, bool noCase,
                                       std::string* problem = nullptr);
    bool Matches(std::string_view path) const;

private:
    // One piece of the glob: the bytes it takes, and whether it takes any
    // number of them ("*", "**") or exactly one. "**/" is an entry that takes
    // nothing and may skip the two pieces after it: a loop over every byte,
    // and "/".
    struct Piece {
        std::array<std::uint64_t, 4> Bytes{};
        bool Loop = false;
        bool SkipsFolders = false;
        bool Takes(unsigned char c) const { return (Bytes[c >> 6] >> (c & 63)) & 1; }
    };

    Glob() = default;
    void Prepare();
    // The states reached from the set d without reading a character.
    std::uint64_t Close(std::uint64_t d, std::size_t* steps) const;
    bool MatchNarrow(std::string_view path, std::size_t* steps) const;
    bool MatchWide(std::string_view path, std::size_t* steps) const;
    bool Run(std::string_view path, bool wide, std::size_t* steps) const;

    friend struct test::GlobProbe;

    std::vector<Piece> pieces_;
    // With at most 63 pieces the states fit one word (state k: the first k
    // pieces are matched); per byte, the states that move on (advance_) and
    // those that stay (stay_). Runs of loops are closed in one subtraction:
    // runFirst_ holds the first state of each run, runEnd_ the state after it,
    // runFill_ the states a run may fill; skips_ the entries of "**/".
    bool narrow_ = false;
    std::vector<std::uint64_t> advance_, stay_;
    std::uint64_t runFirst_ = 0, runEnd_ = 0, runFill_ = 0, skips_ = 0, start_ = 0, accept_ = 0;
};

// Why a glob cannot be taken ("the [ at character 3 is never closed", "the
// glob ends in a backslash that escapes nothing"); empty when it can.
std::string GlobProblem(std::string_view glob);

// Compiles the glob and matches it once; a glob that cannot be taken matches
// nothing.
bool GlobMatches(std::string_view glob, std::string_view path, bool noCase);

// The include and exclude globs of a URL, compiled once for many paths, read
// as people write them (.gitignore, rsync, find -name): a glob without "/" is
// matched against the last part of the path, at any depth ("*.tmp" hides
// "2026-12-06/x.tmp"); a glob with "/" against the whole path below the URL.
// Include globs judge files only: a folder counts whatever they say, so that
// what is below it can. Exclude globs judge files and folders: an excluded
// folder hides everything below it. A glob that cannot be taken (refused where
// globs enter) matches nothing.
class NameFilter final {
public:
    NameFilter(const std::vector<std::string>& include, const std::vector<std::string>& exclude,
               bool noCase);
    bool Counts(std::string_view path, bool folder = false) const;

private:
    struct Rule {
        Glob Compiled;
        bool WholePath = false;
        bool Matches(std::string_view path) const;
    };
    std::vector<Rule> include_, exclude_;
    bool anyInclude_ = false;
};

} // namespace ornbrook
