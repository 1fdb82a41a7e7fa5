#include "model/UrlSettings.h"

#include "base/FileIO_Code.h"
#include "model/DamagedFile.h"
#include "model/FileReplacement.h"
#include "platform/ProgramCommand.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace ornbrook {

bool UrlSettings::SameView(const UrlSettings& other) const {
    return Depth == other.Depth && Include == other.Include && Exclude == other.Exclude &&
           NoCase == other.NoCase;
}

bool UrlSettings::Counts(std::string_view path) const {
    return NameFilter(Include, Exclude, NoCase).Counts(path);
}

UrlView::UrlView(const UrlSettings& settings)
    : depth_(settings.Depth), filter_(settings.Include, settings.Exclude, settings.NoCase) {}

bool UrlView::Shows(std::string_view path) const {
    return std::count(path.begin(), path.end(), '/') <= depth_ && filter_.Counts(path);
}

namespace {

// A week: well inside what the millisecond clock tells apart (24.8 days).
constexpr std::int64_t MaxInterval = 7LL * 24 * 3600;
constexpr std::size_t MaxPattern = 1024;

// How a key's value is written in urlsettings.json.
enum class ValueKind { Number, Flag, Patterns, Text };

// What a key's value must be, when it is not.
Error Expected(std::string what) {
    return {ErrorKind::Invalid, std::move(what)};
}

Result<void> ParseNumber(std::string_view text, std::int64_t low, std::int64_t high,
                         std::int64_t& value) {
    const bool digits =
        !text.empty() && text.size() <= 12 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    const std::int64_t number = digits ? std::stoll(std::string(text)) : low - 1;
    if (number < low || number > high)
        return Expected("a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high));
    value = number;
    return {};
}

Result<void> ParseFlag(std::string_view text, bool& value) {
    if (text != "0" && text != "1")
        return Expected("0 or 1");
    value = text == "1";
    return {};
}

bool HasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

Result<void> ParsePattern(std::string_view text, std::vector<std::string>& into) {
    if (text.size() > MaxPattern || HasControl(text))
        return Expected("a glob without control characters, at most " + std::to_string(MaxPattern) +
                        " bytes");
    if (std::string why = GlobProblem(text); !why.empty())
        return Expected(std::move(why));
    into.emplace_back(text);
    return {};
}

Result<void> ParseFolder(std::string_view text, std::string& into) {
    if (!text.starts_with('/') || HasControl(text))
        return Expected("an absolute folder path without control characters");
    into = text;
    return {};
}

Result<void> ParseProgram(std::string_view text, std::string& into) {
    if (auto command = ProgramCommand::Parse(std::string(text)); !command)
        return std::move(command).error();
    if (HasControl(text))
        return Expected("no control characters");
    into = text;
    return {};
}

// One key: how a value text sets it (lists grow by one pattern), how it goes
// back to its default, and its values as text. A new key is one more row.
struct Key {
    const char* Name;
    ValueKind Kind;
    Result<void> (*Set)(UrlSettings&, std::string_view);
    void (*Reset)(UrlSettings&);
    std::vector<std::string> (*Values)(const UrlSettings&);
};

const Key Keys[] = {
    {"depth", ValueKind::Number,
     [](UrlSettings& s, std::string_view v) {
         std::int64_t n = 0;
         auto parsed = ParseNumber(v, 0, MaxDepth, n);
         if (parsed)
             s.Depth = static_cast<std::int32_t>(n);
         return parsed;
     },
     [](UrlSettings& s) { s.Depth = 0; },
     [](const UrlSettings& s) { return std::vector<std::string>{std::to_string(s.Depth)}; }},
    {"include", ValueKind::Patterns,
     [](UrlSettings& s, std::string_view v) { return ParsePattern(v, s.Include); },
     [](UrlSettings& s) { s.Include.clear(); }, [](const UrlSettings& s) { return s.Include; }},
    {"exclude", ValueKind::Patterns,
     [](UrlSettings& s, std::string_view v) { return ParsePattern(v, s.Exclude); },
     [](UrlSettings& s) { s.Exclude.clear(); }, [](const UrlSettings& s) { return s.Exclude; }},
    {"nocase", ValueKind::Flag,
     [](UrlSettings& s, std::string_view v) { return ParseFlag(v, s.NoCase); },
     [](UrlSettings& s) { s.NoCase = false; },
     [](const UrlSettings& s) { return std::vector<std::string>{s.NoCase ? "1" : "0"}; }},
    {"interval", ValueKind::Number,
     [](UrlSettings& s, std::string_view v) { return ParseNumber(v, 0, MaxInterval, s.Interval); },
     [](UrlSettings& s) { s.Interval = 0; },
     [](const UrlSettings& s) { return std::vector<std::string>{std::to_string(s.Interval)}; }},
    {"paused", ValueKind::Flag,
     [](UrlSettings& s, std::string_view v) { return ParseFlag(v, s.Paused); },
     [](UrlSettings& s) { s.Paused = false; },
     [](const UrlSettings& s) { return std::vector<std::string>{s.Paused ? "1" : "0"}; }},
    {"download", ValueKind::Text,
     [](UrlSettings& s, std::string_view v) { return ParseFolder(v, s.Download); },
     [](UrlSettings& s) { s.Download.clear(); },
     [](const UrlSettings& s) { return std::vector<std::string>{s.Download}; }},
    {"run", ValueKind::Text,
     [](UrlSettings& s, std::string_view v) { return ParseProgram(v, s.Run); },
     [](UrlSettings& s) { s.Run.clear(); },
     [](const UrlSettings& s) { return std::vector<std::string>{s.Run}; }},
};

const Key* FindKey(std::string_view name) {
    for (const Key& key : Keys) {
        if (name == key.Name)
            return &key;
    }
    return nullptr;
}

// The values of one key that differ from its default, for the file.
bool IsDefaultValue(const Key& key, const UrlSettings& s) {
    return key.Values(s) == key.Values(UrlSettings{});
}

} // namespace

Result<void> ApplyAssignments(UrlSettings& settings, const std::vector<std::string>& assignments) {
    UrlSettings changed = settings;
    std::vector<const Key*> given;
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        if (equals == std::string::npos)
            return Expected("not KEY=VALUE: " + assignment);
        const std::string name = assignment.substr(0, equals);
        const Key* key = FindKey(name);
        if (!key)
            return Expected("unknown key " + name);
        const std::string_view value = std::string_view(assignment).substr(equals + 1);
        // The first occurrence replaces the whole value; later ones of a list add to it.
        if (std::find(given.begin(), given.end(), key) == given.end()) {
            key->Reset(changed);
            given.push_back(key);
        } else if (key->Kind != ValueKind::Patterns) {
            return Expected(name + " given twice");
        }
        if (value.empty())
            continue;
        if (auto set = key->Set(changed, value); !set)
            return Expected("bad value for " + name + ": " + std::string(value) + " (" +
                            set.error().Message + ")");
    }
    // {path} is the downloaded file: without a download there is none.
    if (!changed.Run.empty() && changed.Download.empty() &&
        (ProgramCommand::Parse(changed.Run)->Placeholders() & ProgramCommand::PathPlaceholder))
        return Expected("run uses {path}, which needs download=FOLDER");
    settings = std::move(changed);
    return {};
}

std::vector<std::string> AssignmentLines(const UrlSettings& settings) {
    std::vector<std::string> lines;
    for (const Key& key : Keys) {
        for (const std::string& value : key.Values(settings))
            lines.push_back(std::string(key.Name) + "=" + value);
    }
    return lines;
}

std::string DescribeSettings(const UrlSettings& s) {
    std::vector<std::string> parts;
    if (s.Depth > 0)
        parts.push_back("subfolders " + std::to_string(s.Depth) + " deep");
    const auto join = [](const std::vector<std::string>& globs) {
        std::string text;
        for (const std::string& glob : globs)
            text += (text.empty() ? "" : " ") + glob;
        return text;
    };
    if (!s.Include.empty())
        parts.push_back("only " + join(s.Include));
    if (!s.Exclude.empty())
        parts.push_back("not " + join(s.Exclude));
    if (s.NoCase && (!s.Include.empty() || !s.Exclude.empty()))
        parts.push_back("any case");
    if (s.Interval > 0)
        parts.push_back("every " + std::to_string(s.Interval) + " s");
    if (s.Paused)
        parts.push_back("paused");
    if (!s.Download.empty())
        parts.push_back("downloads to " + s.Download);
    if (!s.Run.empty())
        parts.push_back("runs " + s.Run);
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

namespace {

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (code < 0x20) {
            out += "\\u00";
            out += Hex[code >> 4];
            out += Hex[code & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

// Just enough JSON for this file: objects, arrays, strings, whole numbers,
// true and false. Any fault ends the reading where it is.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    bool Failed() const { return failed_; }
    void Fail() { failed_ = true; }
    std::size_t Offset() const { return at_; }

    bool Take(char c) {
        Blanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Expect(char c) {
        if (!Take(c))
            failed_ = true;
        return !failed_;
    }
    bool Peek(char c) {
        Blanks();
        return at_ < text_.size() && text_[at_] == c;
    }
    bool AtEnd() {
        Blanks();
        return at_ == text_.size();
    }

    bool String(std::string& out) {
        out.clear();
        if (!Expect('"'))
            return false;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                break;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                break;
            const char e = text_[at_++];
            static constexpr std::string_view Plain = "\"\\/", From = "bfnrt", To = "\b\f\n\r\t";
            if (Plain.find(e) != std::string_view::npos) {
                out += e;
            } else if (const auto k = From.find(e); k != std::string_view::npos) {
                out += To[k];
            } else if (e == 'u' && at_ + 4 <= text_.size()) {
                unsigned code = 0;
                for (int i = 0; i < 4; ++i) {
                    const char h = text_[at_++];
                    code <<= 4;
                    if (h >= '0' && h <= '9')
                        code |= static_cast<unsigned>(h - '0');
                    else if ((h | 0x20) >= 'a' && (h | 0x20) <= 'f')
                        code |= static_cast<unsigned>((h | 0x20) - 'a' + 10);
                    else
                        return failed_ = true, false;
                }
                // We write escapes only for control characters; others are kept as UTF-8.
                if (code < 0x80) {
                    out += static_cast<char>(code);
                } else if (code < 0x800) {
                    out += static_cast<char>(0xC0 | (code >> 6));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                } else {
                    out += static_cast<char>(0xE0 | (code >> 12));
                    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (code & 0x3F));
                }
            } else {
                break;
            }
        }
        failed_ = true;
        return false;
    }

    // A scalar as the text a "KEY=VALUE" would give, or a list of strings.
    bool Value(std::vector<std::string>& values, bool& isList) {
        values.clear();
        isList = false;
        Blanks();
        if (Peek('"')) {
            std::string s;
            if (!String(s))
                return false;
            values.push_back(std::move(s));
            return true;
        }
        if (Take('[')) {
            isList = true;
            if (Take(']'))
                return true;
            do {
                std::string s;
                if (!String(s))
                    return false;
                values.push_back(std::move(s));
            } while (Take(','));
            return Expect(']');
        }
        for (const auto& [word, text] : {std::pair{"true", "1"}, std::pair{"false", "0"}}) {
            if (text_.substr(at_).starts_with(word)) {
                at_ += std::strlen(word);
                values.emplace_back(text);
                return true;
            }
        }
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        if (at_ == start)
            return failed_ = true, false;
        values.emplace_back(text_.substr(start, at_ - start));
        return true;
    }

    // Skips any value (for keys this file does not know).
    bool Skip() {
        if (Take('{')) {
            if (Take('}'))
                return true;
            do {
                std::string name;
                if (!String(name) || !Expect(':') || !Skip())
                    return false;
            } while (Take(','));
            return Expect('}');
        }
        std::vector<std::string> ignored;
        bool isList = false;
        return Value(ignored, isList);
    }

private:
    void Blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' ||
                                      text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

// Version 2 names URLs by their names (UrlNames) where version 1 gave their
// text; a file of version 1 is read all the same.
constexpr int FileVersion = 2;

void Note(std::string& problems, const std::string& problem) {
    problems += (problems.empty() ? "" : "\n") + problem;
}

// One URL's object: {"url": "...", "tag": "...", "depth": 2, ...}. Keys that
// do not check out are left at their defaults and noted; the rest are taken.
bool ReadUrlObject(JsonReader& json, const UrlNames& names, SettingsFile& into) {
    std::string& problems = into.Problems;
    if (!json.Expect('{'))
        return false;
    std::string url, tag;
    UrlSettings settings;
    if (!json.Take('}')) {
        do {
            std::string name;
            if (!json.String(name) || !json.Expect(':'))
                return false;
            if (name == "url" || name == "tag") {
                if (!json.String(name == "url" ? url : tag))
                    return false;
                continue;
            }
            const Key* key = FindKey(name);
            if (!key) {
                if (!json.Skip())
                    return false;
                Note(problems, "unknown key " + name + " left out");
                continue;
            }
            std::vector<std::string> values;
            bool isList = false;
            if (!json.Value(values, isList))
                return false;
            std::vector<std::string> assignments;
            for (const std::string& value : values)
                assignments.push_back(name + "=" + value);
            // A glob that cannot be taken is left out alone: the others still
            // filter (an exclude list that lost all its globs would let in
            // what it kept out).
            const bool globs = key->Kind == ValueKind::Patterns && isList;
            std::erase_if(assignments, [&](const std::string& one) {
                UrlSettings alone;
                const Result<void> taken = globs ? ApplyAssignments(alone, {one}) : Result<void>();
                if (!taken)
                    Note(problems, taken.error().Message + " left out");
                return !taken;
            });
            if ((key->Kind == ValueKind::Patterns) != isList) {
                Note(problems, "bad value for " + name + " left out");
            } else if (auto taken = ApplyAssignments(settings, assignments); !taken) {
                Note(problems, taken.error().Message + " left out");
            }
        } while (json.Take(','));
        if (!json.Expect('}'))
            return false;
    }
    if (url.empty()) {
        Note(problems, "settings without a URL left out");
        return true;
    }
    // Without a tag, the URL's whole text, as version 1 wrote it.
    into.OldEntries += tag.empty() ? 1 : 0;
    if (!into.Settings.emplace(tag.empty() ? names.Of(url) : UrlNames::Join(url, tag), settings)
             .second)
        Note(problems, "a second entry for one URL left out");
    return true;
}

} // namespace

std::string UrlSettingsText(const SettingsByUrl& settings) {
    std::string out = "{\n  \"version\": " + std::to_string(FileVersion) + ",\n  \"urls\": [";
    bool first = true;
    for (const auto& [name, s] : settings) {
        if (s.IsDefault())
            continue;
        out += first ? "\n    {\"url\": " : ",\n    {\"url\": ";
        first = false;
        AppendJsonString(out, UrlNames::MaskedPart(name));
        if (const std::string_view tag = UrlNames::TagPart(name); !tag.empty()) {
            out += ", \"tag\": ";
            AppendJsonString(out, tag);
        }
        for (const Key& key : Keys) {
            if (IsDefaultValue(key, s))
                continue;
            out += ", ";
            AppendJsonString(out, key.Name);
            out += ": ";
            const std::vector<std::string> values = key.Values(s);
            if (key.Kind == ValueKind::Patterns) {
                out += '[';
                for (std::size_t i = 0; i < values.size(); ++i) {
                    if (i > 0)
                        out += ", ";
                    AppendJsonString(out, values[i]);
                }
                out += ']';
            } else if (key.Kind == ValueKind::Flag) {
                out += values.front() == "1" ? "true" : "false";
            } else if (key.Kind == ValueKind::Text) {
                AppendJsonString(out, values.front());
            } else {
                out += values.front();
            }
        }
        out += '}';
    }
    out += first ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

SettingsFile ParseUrlSettings(std::string_view text, const UrlNames& names) {
    SettingsFile file;
    std::string& problems = file.Problems;
    JsonReader json(text);
    bool sawUrls = false;
    if (json.Expect('{') && !json.Take('}')) {
        do {
            std::string name;
            if (!json.String(name) || !json.Expect(':'))
                break;
            if (name == "version") {
                std::vector<std::string> values;
                bool isList = false;
                if (!json.Value(values, isList))
                    break;
                if (isList || values.size() != 1 ||
                    (values[0] != "1" && values[0] != std::to_string(FileVersion)))
                    Note(problems, "version " + (values.empty() ? "?" : values[0]) +
                                       " read as version " + std::to_string(FileVersion));
            } else if (name == "urls") {
                sawUrls = true;
                if (!json.Expect('['))
                    break;
                if (json.Take(']'))
                    continue;
                do {
                    if (!ReadUrlObject(json, names, file))
                        break;
                } while (json.Take(','));
                if (!json.Failed())
                    json.Expect(']');
            } else if (!json.Skip()) {
                break;
            }
        } while (!json.Failed() && json.Take(','));
        if (!json.Failed())
            json.Expect('}');
    }
    if (!json.Failed() && !json.AtEnd())
        json.Fail();
    if (json.Failed())
        Note(problems, "cut or garbled at byte " + std::to_string(json.Offset()));
    else if (!sawUrls)
        Note(problems, "no list of URLs");
    return file;
}

SettingsFile LoadUrlSettings(const std::string& fileName, const UrlNames& names,
                             std::string& notice) {
    notice.clear();
    if (!FileExists(fileName))
        return {};
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw FileError(fileName, "cannot be read");
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    SettingsFile file = ParseUrlSettings(text, names);
    if (file.Problems.empty())
        return file;
    // The damaged file is kept as it was; the next save writes what was read.
    const std::string keptAs = KeepDamagedCopy(fileName);
    if (!keptAs.empty())
        notice = "urlsettings.json is damaged (" +
                 file.Problems.substr(0, file.Problems.find('\n')) + "); the settings of " +
                 std::to_string(file.Settings.size()) +
                 " URLs were read, the file as it was is kept as " + keptAs + ".";
    return file;
}

void SaveUrlSettings(const std::string& fileName, const SettingsByUrl& settings) {
    if (std::all_of(settings.begin(), settings.end(),
                    [](const auto& entry) { return entry.second.IsDefault(); })) {
        DeleteFileIfExists(fileName);
        return;
    }
    FileReplacement file(fileName);
    file.Write(UrlSettingsText(settings));
    file.Commit();
}

} // namespace ornbrook
