#include "model/NameFilter.h"

#include <algorithm>

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

// Every byte a piece takes, decided one byte at a time by the rule it stands
// for, so that a compiled piece takes exactly what the rule says.
template <typename Rule> std::array<std::uint64_t, 4> BytesWhere(Rule rule) {
    std::array<std::uint64_t, 4> bytes{};
    for (unsigned b = 0; b < 256; ++b) {
        if (rule(static_cast<char>(b)))
            bytes[b >> 6] |= std::uint64_t{1} << (b & 63);
    }
    return bytes;
}

} // namespace

std::optional<Glob> Glob::Compile(std::string_view glob, bool noCase, std::string* problem) {
    const auto refuse = [problem](std::string why) {
        if (problem)
            *problem = std::move(why);
        return std::nullopt;
    };
    const auto notSlash = [](char b) { return b != '/'; };
    const auto loop = [](std::array<std::uint64_t, 4> bytes, bool skipsFolders = false) {
        return Piece{bytes, true, skipsFolders};
    };
    const auto literal = [noCase](char c) {
        return Piece{BytesWhere([=](char b) { return Fold(b, noCase) == Fold(c, noCase); })};
    };
    Glob compiled;
    std::vector<Piece>& pieces = compiled.pieces_;
    for (std::size_t p = 0; p < glob.size(); ++p) {
        char c = glob[p];
        if (c == '*' && p + 1 < glob.size() && glob[p + 1] == '*') {
            const auto every = BytesWhere([](char) { return true; });
            if (p + 2 < glob.size() && glob[p + 2] == '/') {
                // Folders, or none: an entry that takes nothing and may skip
                // the two pieces after it, the loop and the "/".
                pieces.push_back(loop({}, true));
                pieces.push_back(loop(every));
                pieces.push_back(literal('/'));
                p += 2;
            } else {
                pieces.push_back(loop(every));
                p += 1;
            }
        } else if (c == '*') {
            pieces.push_back(loop(BytesWhere(notSlash)));
        } else if (c == '?') {
            pieces.push_back(Piece{BytesWhere(notSlash)});
        } else if (c == '[') {
            const std::size_t close = SetEnd(glob, p);
            if (close == std::string_view::npos)
                return refuse("the [ at character " + std::to_string(p + 1) + " is never closed");
            pieces.push_back(Piece{
                BytesWhere([&](char b) { return b != '/' && InSet(glob, p, close, b, noCase); })});
            p = close;
        } else {
            if (c == '\\') {
                if (p + 1 == glob.size())
                    return refuse("the glob ends in a backslash that escapes nothing");
                c = glob[++p];
            }
            pieces.push_back(literal(c));
        }
    }
    compiled.Prepare();
    return compiled;
}

void Glob::Prepare() {
    const std::size_t n = pieces_.size();
    narrow_ = n < 64;
    if (!narrow_)
        return;
    advance_.assign(256, 0);
    stay_.assign(256, 0);
    std::uint64_t loops = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint64_t state = std::uint64_t{1} << k;
        const Piece& piece = pieces_[k];
        if (piece.Loop)
            loops |= state;
        if (piece.SkipsFolders)
            skips_ |= state;
        std::vector<std::uint64_t>& moves = piece.Loop ? stay_ : advance_;
        for (unsigned b = 0; b < 256; ++b) {
            if (piece.Takes(static_cast<unsigned char>(b)))
                moves[b] |= state;
        }
    }
    runFirst_ = loops & ~(loops << 1);
    runEnd_ = (loops << 1) & ~loops;
    runFill_ = loops << 1;
    accept_ = std::uint64_t{1} << n;
    start_ = Close(1, nullptr);
}

// A loop may also be passed over, and a "**/" as a whole from its entry. In a
// run of loops from state r to the state t + 1 after it, every state above the
// lowest one reached is reached: subtracting r's bit from the states (with
// t + 1 set to stop the borrow) flips exactly the bits from r up to that
// lowest state, and the run's other bits are the ones to fill. A skip may land
// at the start of another run, so the two alternate until nothing is added:
// each round adds a skip's target, at most once per "**/".
std::uint64_t Glob::Close(std::uint64_t d, std::size_t* steps) const {
    for (;;) {
        if (steps)
            ++*steps;
        const std::uint64_t stopped = d | runEnd_;
        d |= runFill_ & ~((stopped - runFirst_) ^ stopped);
        const std::uint64_t skipped = ((d & skips_) << 3) & ~d;
        if (skipped == 0)
            return d;
        d |= skipped;
    }
}

bool Glob::MatchNarrow(std::string_view path, std::size_t* steps) const {
    std::uint64_t d = start_;
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if (steps)
            ++*steps;
        d = Close(((d & advance_[b]) << 1) | (d & stay_[b]), steps);
        if (d == 0)
            return false;
    }
    return (d & accept_) != 0;
}

// The same walk for globs of 64 pieces or more, one state at a time: a state
// is taken at most once per character, so a character costs at most as many
// steps as there are states.
bool Glob::MatchWide(std::string_view path, std::size_t* steps) const {
    const std::size_t n = pieces_.size();
    // The character count at which each state was last taken.
    std::vector<std::size_t> takenAt(n + 1, std::string_view::npos);
    std::vector<std::size_t> now, next, pending;
    const auto take = [&](std::size_t state, std::size_t at, std::vector<std::size_t>& into) {
        pending.push_back(state);
        while (!pending.empty()) {
            const std::size_t k = pending.back();
            pending.pop_back();
            if (takenAt[k] == at)
                continue;
            takenAt[k] = at;
            into.push_back(k);
            if (steps)
                ++*steps;
            if (k < n && pieces_[k].Loop) {
                pending.push_back(k + 1);
                if (pieces_[k].SkipsFolders)
                    pending.push_back(k + 3);
            }
        }
    };
    take(0, 0, now);
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto b = static_cast<unsigned char>(path[i]);
        next.clear();
        for (const std::size_t k : now) {
            if (k < n && pieces_[k].Takes(b))
                take(pieces_[k].Loop ? k : k + 1, i + 1, next);
        }
        if (next.empty())
            return false;
        now.swap(next);
    }
    return takenAt[n] == path.size();
}

bool Glob::Run(std::string_view path, bool wide, std::size_t* steps) const {
    return wide || !narrow_ ? MatchWide(path, steps) : MatchNarrow(path, steps);
}

bool Glob::Matches(std::string_view path) const {
    return narrow_ ? MatchNarrow(path, nullptr) : MatchWide(path, nullptr);
}

std::string GlobProblem(std::string_view glob) {
    std::string problem;
    Glob::Compile(glob, false, &problem);
    return problem;
}

bool GlobMatches(std::string_view glob, std::string_view path, bool noCase) {
    const auto compiled = Glob::Compile(glob, noCase);
    return compiled && compiled->Matches(path);
}

NameFilter::NameFilter(const std::vector<std::string>& include,
                       const std::vector<std::string>& exclude, bool noCase)
    : anyInclude_(!include.empty()) {
    for (const auto& [globs, into] : {std::pair{&include, &include_}, {&exclude, &exclude_}}) {
        for (const std::string& glob : *globs) {
            if (auto compiled = Glob::Compile(glob, noCase))
                into->push_back({std::move(*compiled), glob.find('/') != std::string::npos});
        }
    }
}

bool NameFilter::Rule::Matches(std::string_view path) const {
    return Compiled.Matches(WholePath ? path : path.substr(path.rfind('/') + 1));
}

bool NameFilter::Counts(std::string_view path, bool folder) const {
    const auto excluded = [this](std::string_view at) {
        return std::any_of(exclude_.begin(), exclude_.end(),
                           [at](const Rule& rule) { return rule.Matches(at); });
    };
    // The folders on the way, then the entry itself.
    for (std::size_t slash = path.find('/'); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
        if (excluded(path.substr(0, slash)))
            return false;
    }
    if (excluded(path))
        return false;
    return folder || !anyInclude_ ||
           std::any_of(include_.begin(), include_.end(),
                       [path](const Rule& rule) { return rule.Matches(path); });
}

} // namespace ornbrook
