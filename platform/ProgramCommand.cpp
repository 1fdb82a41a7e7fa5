#include "platform/ProgramCommand.h"

#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ornbrook {

namespace {

struct KnownPlaceholder {
    std::string_view Text;
    ProgramCommand::Placeholder Bit;
};
constexpr KnownPlaceholder Known[] = {{"{path}", ProgramCommand::PathPlaceholder},
                                      {"{url}", ProgramCommand::UrlPlaceholder},
                                      {"{name}", ProgramCommand::NamePlaceholder}};

// The known placeholder that starts at pos in word, if any.
const KnownPlaceholder* PlaceholderAt(const std::string& word, std::size_t pos) {
    for (const KnownPlaceholder& known : Known) {
        if (word.compare(pos, known.Text.size(), known.Text) == 0)
            return &known;
    }
    return nullptr;
}

unsigned PlaceholdersIn(const std::string& word) {
    unsigned used = 0;
    for (std::size_t pos = word.find('{'); pos != std::string::npos;
         pos = word.find('{', pos + 1)) {
        if (const KnownPlaceholder* known = PlaceholderAt(word, pos))
            used |= known->Bit;
    }
    return used;
}

// Inside double quotes a POSIX shell lets the backslash escape only these; before
// any other character it stands for itself (XCU 2.2.3).
bool EscapableInDoubleQuotes(char c) {
    return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n';
}

} // namespace

Result<ProgramCommand> ProgramCommand::Parse(const std::string& text) {
    ProgramCommand command;
    command.text_ = text;
    const auto fail = [](std::string why) { return Error{ErrorKind::Invalid, std::move(why)}; };
    std::string word;
    bool inWord = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t') {
            if (inWord)
                command.words_.push_back(std::exchange(word, {}));
            inWord = false;
            ++i;
        } else if (c == '\\') {
            if (i + 1 == text.size())
                return fail("the setting ends in a backslash that escapes nothing");
            // A backslash before a line break joins the lines, as in a shell.
            if (text[i + 1] != '\n') {
                word += text[i + 1];
                inWord = true;
            }
            i += 2;
        } else if (c == '\'') {
            const std::size_t end = text.find('\'', i + 1);
            if (end == std::string::npos)
                return fail("the single quote at character " + std::to_string(i + 1) +
                            " is never closed");
            word.append(text, i + 1, end - i - 1);
            inWord = true;
            i = end + 1;
        } else if (c == '"') {
            std::size_t j = i + 1;
            for (;;) {
                if (j >= text.size())
                    return fail("the double quote at character " + std::to_string(i + 1) +
                                " is never closed");
                if (text[j] == '"')
                    break;
                if (text[j] == '\\' && j + 1 < text.size() &&
                    EscapableInDoubleQuotes(text[j + 1])) {
                    if (text[j + 1] != '\n')
                        word += text[j + 1];
                    j += 2;
                } else {
                    word += text[j++];
                }
            }
            inWord = true;
            i = j + 1;
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord)
        command.words_.push_back(std::move(word));

    if (command.words_.empty() || command.words_.front().empty())
        return fail("no program is named");
    // The program is the user's choice alone: a file name from a server must
    // never pick what runs.
    if (PlaceholdersIn(command.words_.front()) != 0)
        return fail("the program must be named, not given by a placeholder");
    return command;
}

unsigned ProgramCommand::Placeholders() const {
    unsigned used = 0;
    for (const std::string& word : words_)
        used |= PlaceholdersIn(word);
    return used;
}

std::vector<std::string> ProgramCommand::Arguments(const ProgramValues& values) const {
    const auto valueOf = [&values](Placeholder bit) -> const std::string& {
        switch (bit) {
        case PathPlaceholder:
            return values.Path;
        case UrlPlaceholder:
            return values.Url;
        case NamePlaceholder:
            return values.Name;
        }
        return values.Name;
    };
    std::vector<std::string> arguments;
    arguments.reserve(words_.size());
    for (const std::string& word : words_) {
        std::string argument;
        std::size_t pos = 0;
        while (pos < word.size()) {
            const std::size_t brace = word.find('{', pos);
            argument.append(word, pos,
                            brace == std::string::npos ? std::string::npos : brace - pos);
            if (brace == std::string::npos)
                break;
            if (const KnownPlaceholder* known = PlaceholderAt(word, brace)) {
                argument += valueOf(known->Bit);
                pos = brace + known->Text.size();
            } else {
                argument += '{';
                pos = brace + 1;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

namespace {

enum class Candidate { Missing, NotAFile, NotExecutable, Program };

Candidate Judge(const std::string& path) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) != 0)
        return Candidate::Missing;
    if (!S_ISREG(facts.st_mode))
        return Candidate::NotAFile;
    return ::access(path.c_str(), X_OK) == 0 ? Candidate::Program : Candidate::NotExecutable;
}

} // namespace

Result<std::string> FindProgram(const std::string& name, const char* pathVariable) {
    const auto missing = [](std::string why) {
        return Error{ErrorKind::LocalFile, std::move(why)};
    };
    if (name.empty())
        return missing("no program is named");
    if (name.find('/') != std::string::npos) {
        switch (Judge(name)) {
        case Candidate::Program:
            return name;
        case Candidate::NotAFile:
        case Candidate::NotExecutable:
            return missing("not executable: " + name);
        case Candidate::Missing:
            break;
        }
        return missing("program not found: " + name);
    }

    std::string path;
    if (pathVariable != nullptr) {
        path = pathVariable;
    } else {
        // Without PATH a shell searches the system's default path.
        path.resize(::confstr(_CS_PATH, nullptr, 0));
        if (path.empty())
            path = "/bin:/usr/bin";
        else
            path.resize(::confstr(_CS_PATH, path.data(), path.size()) - 1);
    }
    // As a shell does, folders are passed over, and so is a file that is there
    // but cannot run: a later entry may hold the program; it is named when none does.
    std::string notExecutable;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = path.find(':', begin);
        std::string dir = path.substr(begin, end == std::string::npos ? end : end - begin);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + (dir.back() == '/' ? "" : "/") + name;
        const Candidate judged = Judge(candidate);
        if (judged == Candidate::Program)
            return candidate;
        if (judged == Candidate::NotExecutable && notExecutable.empty())
            notExecutable = candidate;
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
    if (!notExecutable.empty())
        return missing("not executable: " + notExecutable);
    return missing("program not found: " + name);
}

} // namespace ornbrook
