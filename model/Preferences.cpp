#include "model/Preferences.h"

#include "base/FileIO_Code.h"
#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"
#include "check/CheckPool.h"

#include <algorithm>

namespace ornbrook {

namespace {

constexpr const char* FileNames[Preferences::KeyCount] = {
    "interval.dat", "checksatonce.dat",   "settle.dat",  "notify.dat",
    "filesort.dat", "downloadfolder.dat", "selected.dat"};

} // namespace

Preferences Preferences::Load() {
    Preferences preferences;
    for (std::size_t k = 0; k < KeyCount; ++k) {
        const std::string file = FileName(static_cast<Key>(k));
        try {
            if (FileExists(file))
                preferences.lines_[k] = ReadFirstLine(file, "");
        } catch (const FileError&) {
            // Unreadable is as good as missing: each setting has its default.
        }
    }
    return preferences;
}

std::string Preferences::FileName(Key key) {
    return ProgramDir + FileNames[static_cast<std::size_t>(key)];
}

const std::optional<std::string>& Preferences::Line(Key key) const {
    return lines_[static_cast<std::size_t>(key)];
}

void Preferences::SetLine(Key key, const std::string& line) {
    WriteText(FileName(key), line);
    lines_[static_cast<std::size_t>(key)] = line;
}

std::string Preferences::IntervalLine() const {
    return Line(Key::Interval).value_or(DefaultIntervalText);
}

void Preferences::KeepIntervalDefault() {
    if (!Line(Key::Interval))
        SetLine(Key::Interval, DefaultIntervalText);
}

std::int32_t CheckIntervalOf(const std::string& line) {
    return std::max(TextToInt32(line), 0);
}

std::int32_t Preferences::Interval() const {
    return CheckIntervalOf(IntervalLine());
}

std::int32_t Preferences::ChecksAtOnce() const {
    const std::string line = Line(Key::ChecksAtOnce).value_or("");
    if (line.find_first_of("0123456789") == std::string::npos)
        return CheckPool::DefaultAtOnce;
    return std::clamp(TextToInt32(line), 1, CheckPool::MaxAtOnce);
}

std::int32_t Preferences::SettleSeconds() const {
    const std::string line = TrimSpaces(Line(Key::Settle).value_or(""));
    if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos)
        return DefaultSettleSeconds;
    return std::clamp(TextToInt32(line), 0, MaxSettleSeconds);
}

bool Preferences::NotifyNewFiles() const {
    return TrimSpaces(Line(Key::Notify).value_or("1")) != "0";
}

} // namespace ornbrook
