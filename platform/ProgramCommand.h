#pragma once

#include "base/Result.h"

#include <string>
#include <vector>

namespace ornbrook {

// What a program's arguments may take from the file it is run for.
struct ProgramValues {
    std::string Path; // {path}: the local file
    std::string Url;  // {url}: the file's URL, password masked
    std::string Name; // {name}: its name relative to the watched folder
};

// A program and its arguments as a user writes them in one setting
// ("PROGRAM ARG..."): split into words by the quoting rules of a POSIX shell
// (single quotes, double quotes with the backslash escapes a shell honours in
// them, a backslash outside quotes, blanks and tabs between words), and nothing
// more: no `$`, `~`, glob, `;` or other expansion, and no shell ever runs. Each
// word may hold placeholders; a word stays exactly one argument whatever the
// values put into it hold.
class ProgramCommand final {
public:
    enum Placeholder : unsigned { PathPlaceholder = 1, UrlPlaceholder = 2, NamePlaceholder = 4 };

    // Invalid, with the reason, for an unclosed quote, no program, a
    // placeholder as the program. A setting is parsed once, where it is taken,
    // and kept parsed with its text.
    static Result<ProgramCommand> Parse(const std::string& text);

    // The setting as the user wrote it; empty for none.
    const std::string& Text() const { return text_; }
    bool Empty() const { return text_.empty(); }
    bool operator==(const ProgramCommand& other) const { return text_ == other.text_; }

    const std::vector<std::string>& Words() const { return words_; }

    // The placeholders the arguments use, as a set of Placeholder bits: which
    // ones are allowed is the caller's to judge ({path} only with downloads).
    unsigned Placeholders() const;

    // The arguments for one file, the program first as written: each known
    // placeholder ({path}, {url}, {name}, inside quotes too) is replaced by its
    // value, once (a value is never searched for placeholders itself); any
    // other {...} stays as it is.
    std::vector<std::string> Arguments(const ProgramValues& values) const;

private:
    std::string text_;
    std::vector<std::string> words_;
};

// Where a program lies, found as a shell finds it: a name holding a "/" is
// used as it is; any other is looked for in each entry of pathVariable in
// order (an empty entry is the current directory; nullptr, an unset PATH,
// means the system's default path), the first regular, executable file.
// Otherwise LocalFile: "program not found: NAME" or "not executable: PATH".
Result<std::string> FindProgram(const std::string& name, const char* pathVariable);

} // namespace ornbrook
