#include "model/UrlSettings.h"

#include "base/FileIO_Code.h"
#include "base/FileReplacement.h"
#include "model/DamagedFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

namespace ornbrook {

bool UrlSettings::SameView(const UrlSettings& other) const {
    return Depth == other.Depth && Include == other.Include && Exclude == other.Exclude &&
           NoCase == other.NoCase;
}

bool UrlSettings::Counts(std::string_view path, bool folder) const {
    return NameFilter(Include, Exclude, NoCase).Counts(path, folder);
}

UrlView::UrlView(const UrlSettings& settings)
    : depth_(settings.Depth), filter_(settings.Include, settings.Exclude, settings.NoCase) {}

bool UrlView::Shows(std::string_view path, bool folder) const {
    return std::count(path.begin(), path.end(), '/') <= depth_ && filter_.Counts(path, folder);
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

constexpr const char* ModeNames[] = {"auto", "active", "passive"};

Result<void> ParseMode(std::string_view text, DataMode& into) {
    for (std::size_t i = 0; i < std::size(ModeNames); ++i) {
        if (text == ModeNames[i]) {
            into = static_cast<DataMode>(i);
            return {};
        }
    }
    return Expected("active, passive or auto");
}

Result<void> ParseProgram(std::string_view text, ProgramCommand& into) {
    auto command = ProgramCommand::Parse(std::string(text));
    if (!command)
        return std::move(command).error();
    if (HasControl(text))
        return Expected("no control characters");
    into = std::move(*command);
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
     [](UrlSettings& s) { s.Run = {}; },
     [](const UrlSettings& s) { return std::vector<std::string>{s.Run.Text()}; }},
    {"mode", ValueKind::Text,
     [](UrlSettings& s, std::string_view v) { return ParseMode(v, s.Mode); },
     [](UrlSettings& s) { s.Mode = DataMode::Auto; },
     [](const UrlSettings& s) {
         return std::vector<std::string>{ModeNames[static_cast<int>(s.Mode)]};
     }},
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
    if (changed.Download.empty() && (changed.Run.Placeholders() & ProgramCommand::PathPlaceholder))
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
    if (!s.Run.Empty())
        parts.push_back("runs " + s.Run.Text());
    if (s.Mode != DataMode::Auto)
        parts.push_back(std::string(ModeNames[static_cast<int>(s.Mode)]) + " mode");
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

namespace {

// Keys are written in the order of the key table, as a reader expects them.
using Json = nlohmann::ordered_json;

// Version 2 names URLs by their names (UrlNames) where version 1 gave their
// text; a file of version 1 is read all the same.
constexpr int FileVersion = 2;

void Note(std::string& problems, const std::string& problem) {
    problems += (problems.empty() ? "" : "\n") + problem;
}

// A scalar as the text a "KEY=VALUE" would give; none for anything else.
std::optional<std::string> ScalarText(const Json& value) {
    if (value.is_string())
        return value.get<std::string>();
    if (value.is_boolean())
        return value.get<bool>() ? "1" : "0";
    if (value.is_number_integer())
        return value.dump();
    return std::nullopt;
}

// One URL's object: {"url": "...", "tag": "...", "depth": 2, ...}. Keys that
// do not check out are left at their defaults and noted; the rest are taken.
void ReadUrlObject(const Json& object, const UrlNames& names, SettingsFile& into) {
    std::string& problems = into.Problems;
    std::string url, tag;
    UrlSettings settings;
    for (const auto& [name, value] : object.items()) {
        if (name == "url" || name == "tag") {
            if (value.is_string())
                (name == "url" ? url : tag) = value.get<std::string>();
            else
                Note(problems, "bad value for " + name + " left out");
            continue;
        }
        const Key* key = FindKey(name);
        if (!key) {
            Note(problems, "unknown key " + name + " left out");
            continue;
        }
        const bool isList = value.is_array();
        std::vector<std::string> assignments;
        bool readable = true;
        for (const Json& one : isList ? value : Json::array({value})) {
            const auto text = ScalarText(one);
            readable = readable && text && (!isList || one.is_string());
            if (text)
                assignments.push_back(name + "=" + *text);
        }
        // A glob that cannot be taken is left out alone: the others still
        // filter (an exclude list that lost all its globs would let in what
        // it kept out).
        const bool globs = key->Kind == ValueKind::Patterns && isList;
        std::erase_if(assignments, [&](const std::string& one) {
            UrlSettings alone;
            const Result<void> taken = globs ? ApplyAssignments(alone, {one}) : Result<void>();
            if (!taken)
                Note(problems, taken.error().Message + " left out");
            return !taken;
        });
        if (!readable || (key->Kind == ValueKind::Patterns) != isList) {
            Note(problems, "bad value for " + name + " left out");
        } else if (auto taken = ApplyAssignments(settings, assignments); !taken) {
            Note(problems, taken.error().Message + " left out");
        }
    }
    if (url.empty()) {
        Note(problems, "settings without a URL left out");
        return;
    }
    // Without a tag, the URL's whole text, as version 1 wrote it.
    into.OldEntries += tag.empty() ? 1 : 0;
    if (!into.Settings.emplace(tag.empty() ? names.Of(url) : UrlNames::Join(url, tag), settings)
             .second)
        Note(problems, "a second entry for one URL left out");
}

} // namespace

std::string UrlSettingsText(const SettingsByUrl& settings) {
    Json urls = Json::array();
    for (const auto& [name, s] : settings) {
        if (s.IsDefault())
            continue;
        Json entry = Json::object();
        entry["url"] = UrlNames::MaskedPart(name);
        if (const std::string_view tag = UrlNames::TagPart(name); !tag.empty())
            entry["tag"] = tag;
        for (const Key& key : Keys) {
            if (IsDefaultValue(key, s))
                continue;
            const std::vector<std::string> values = key.Values(s);
            Json& value = entry[key.Name];
            if (key.Kind == ValueKind::Patterns)
                value = values;
            else if (key.Kind == ValueKind::Flag)
                value = values.front() == "1";
            else if (key.Kind == ValueKind::Text)
                value = values.front();
            else
                value = std::stoll(values.front());
        }
        urls.push_back(std::move(entry));
    }
    const Json file = {{"version", FileVersion}, {"urls", std::move(urls)}};
    // Bytes that are no UTF-8 (a URL typed so) cannot stand in JSON: they are
    // written as U+FFFD rather than refused.
    return file.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

SettingsFile ParseUrlSettings(std::string_view text, const UrlNames& names) {
    SettingsFile file;
    std::string& problems = file.Problems;
    // Each URL's object is taken as soon as it is whole, so that a file cut
    // short or garbled later still gives the URLs before the damage.
    std::string topKey;
    bool object = false, inUrls = false, sawUrls = false;
    const Json::parser_callback_t take = [&](int depth, Json::parse_event_t event, Json& parsed) {
        using Event = Json::parse_event_t;
        if (depth == 0 && event == Event::object_start)
            object = true;
        if (depth == 1 && event == Event::key)
            topKey = parsed.get<std::string>();
        if (depth == 1 && topKey == "urls" && event == Event::array_start)
            inUrls = sawUrls = true;
        if (depth == 1 && topKey == "urls" && event == Event::array_end)
            inUrls = false;
        if (depth == 1 && topKey == "version" && event == Event::value) {
            const std::string version = ScalarText(parsed).value_or("?");
            if (version != "1" && version != std::to_string(FileVersion))
                Note(problems,
                     "version " + version + " read as version " + std::to_string(FileVersion));
        }
        if (inUrls && depth == 2 && event == Event::object_end) {
            ReadUrlObject(parsed, names, file);
            return false;
        }
        if (inUrls && depth == 2 && event == Event::value) {
            Note(problems, "a URL entry that is not an object left out");
            return false;
        }
        return true;
    };
    try {
        [[maybe_unused]] const Json kept = Json::parse(text.begin(), text.end(), take);
        if (!object)
            Note(problems, "not an object of settings");
        else if (!sawUrls)
            Note(problems, "no list of URLs");
    } catch (const Json::parse_error& error) {
        Note(problems, "cut or garbled at byte " + std::to_string(error.byte));
    }
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
    ReplaceFile(fileName, UrlSettingsText(settings));
}

} // namespace ornbrook
