#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace ornbrook {

// The program's own settings, each in the one-line file of the program
// directory that earlier versions kept it in, in the same form. They are read
// once, when the watch list is made, and changed through this object, which
// writes the file at once; nothing else reads or writes these files, and no
// timer reads a file.
class Preferences final {
public:
    enum class Key {
        Interval,       // interval.dat: the periodic check's interval in seconds
        ChecksAtOnce,   // checksatonce.dat: how many URLs are checked at once
        Settle,         // settle.dat: how long an upload must hold still
        Notify,         // notify.dat: whether the desktop is told of new files
        FileSort,       // filesort.dat: "column order" of the file list
        DownloadFolder, // downloadfolder.dat: the folder last downloaded into
        Selected,       // selected.dat: the selected URL, its password masked
    };
    static constexpr std::size_t KeyCount = 7;

    // What a missing interval.dat stands for, and is written with by the
    // window: five minutes, with a leading blank.
    static constexpr const char* DefaultIntervalText = " 300";
    static constexpr std::int32_t DefaultSettleSeconds = 15;
    static constexpr std::int32_t MaxSettleSeconds = 86400;

    // Reads every file of the program directory (ProgramDir) once. Loading
    // creates no file: the command line leaves the window's files alone. A
    // file that cannot be read counts as missing.
    static Preferences Load();

    static std::string FileName(Key key);
    // A file's first line as it was read or last set (without its line
    // break); none when the file is missing.
    const std::optional<std::string>& Line(Key key) const;
    // Writes the line (followed by CR LF) and keeps it. Throws FileError.
    void SetLine(Key key, const std::string& line);

    // The interval.dat line, or its default when the file is missing.
    std::string IntervalLine() const;
    // Writes interval.dat with its default when it is missing, as the window
    // always had it (the Options dialog then shows it).
    void KeepIntervalDefault();
    // What the periodic check makes of the interval line: its leading number
    // rounded half-even; 0 (off) for a line without a number, a negative
    // number or one beyond 32 bits.
    std::int32_t Interval() const;
    // checksatonce.dat: missing, not a number or outside 1 to 16 reads as the
    // nearest sensible value (4 when there is no number at all).
    std::int32_t ChecksAtOnce() const;
    // settle.dat: missing, or anything but a whole number, reads as the
    // default; 0 reports at once.
    std::int32_t SettleSeconds() const;
    // notify.dat: on unless the line says 0.
    bool NotifyNewFiles() const;

private:
    std::array<std::optional<std::string>, KeyCount> lines_;
};

// The periodic check's interval in a line of interval.dat (see Interval).
std::int32_t CheckIntervalOf(const std::string& line);

} // namespace ornbrook
