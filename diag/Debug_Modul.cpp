#include "diag/Debug_Modul.h"

#include "base/Clock.h"
#include "base/FileIO_Code.h"
#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"

#include <cstdio>
#include <mutex>

namespace ornbrook {

namespace {

struct DebugState {
    std::int16_t logLevel = 0;
    bool formShown = false;
    bool debugFileOn = false;
    bool prozessInfoOn = false;
    std::string prozessStack = "|";
    // Entry 0 is never a class or process, as the window's rows count from 1.
    std::vector<KlassenInfo> klassen{KlassenInfo{}};
    std::vector<ProzessInfo> prozesse{ProzessInfo{}};
    std::string pane;
    std::function<std::unique_ptr<DebugView>()> factory;
    std::unique_ptr<DebugView> view;
};

// Recursive: a view may log while it is being told of a change.
std::recursive_mutex stateMutex;

DebugState& State() {
    static DebugState state;
    return state;
}

bool StatisticsOn(const DebugState& s) {
    return DebugActive && s.formShown && !Unloading;
}

void AppendLine(const std::string& fileName, const std::string& text) {
    std::FILE* file = std::fopen(fileName.c_str(), "ab");
    if (!file)
        return;
    const std::string line = text + LineBreak;
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

std::string ProzessInfoFile(std::int32_t depth) {
    return ProgramDir + "debugfile.prozessinfo." + IntToText(depth);
}

std::size_t IndexOfProzess(DebugState& s, const std::string& name) {
    if (TrimSpaces(name).empty())
        WriteLog("ERROR in GetIndexOfProzess: TheName = \"\"");
    for (std::size_t i = 1; i < s.prozesse.size(); ++i) {
        if (s.prozesse[i].Name == name)
            return i;
    }
    s.prozesse.push_back(ProzessInfo{name, 0, 0, 0, 0, {}});
    const std::size_t row = s.prozesse.size() - 1;
    if (s.view)
        s.view->ShowProzessRow(row, s.prozesse[row]);
    return row;
}

// One completed run of row i that took d milliseconds.
void CountRun(DebugState& s, std::size_t i, std::int64_t d) {
    ProzessInfo& row = s.prozesse[i];
    row.Anzahl += 1;
    row.Gesammt += d;
    row.Durchschnitt =
        RoundHalfEven(static_cast<double>(row.Gesammt) / static_cast<double>(row.Anzahl) * 100) /
        100;
    if (row.Laengste < d)
        row.Laengste = d;
    if (s.view)
        s.view->ShowProzessRow(i, row);
}

// Cuts at most n bytes without splitting a UTF-8 sequence.
std::string Utf8Prefix(const std::string& text, std::size_t n) {
    if (text.size() <= n)
        return text;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

} // namespace

void SetDebugViewFactory(std::function<std::unique_ptr<DebugView>()> factory) {
    std::lock_guard lock(stateMutex);
    State().factory = std::move(factory);
}

void ReleaseDebugView() {
    std::unique_ptr<DebugView> view;
    {
        std::lock_guard lock(stateMutex);
        view = std::move(State().view);
    }
}

void InitDebug() {
    DeleteFileIfExists(ProgramDir + "debugfile.prozesse");
    DeleteFileIfExists(ProgramDir + "debugfile.prozessinfo.*");
    std::lock_guard lock(stateMutex);
    DebugState& s = State();
    s.klassen.assign(1, KlassenInfo{});
    s.prozesse.assign(1, ProzessInfo{});
    s.formShown = false;
    s.logLevel = 0;
    s.debugFileOn = false;
    s.prozessStack = "|";
    s.prozessInfoOn = false;
    s.pane.clear();
}

void ShowDebugForm() {
    std::lock_guard lock(stateMutex);
    DebugState& s = State();
    if (s.formShown)
        return;
    s.formShown = true;
    if (!s.view && s.factory)
        s.view = s.factory();
    if (s.view)
        s.view->ShowWindow();
}

void SetLogLevel(std::int16_t level) {
    std::lock_guard lock(stateMutex);
    State().logLevel = level;
}

void EnableDebugFile() {
    std::lock_guard lock(stateMutex);
    State().debugFileOn = true;
}

void EnableProzessInfo() {
    std::lock_guard lock(stateMutex);
    State().prozessInfoOn = true;
}

std::int16_t LogLevel() {
    std::lock_guard lock(stateMutex);
    return State().logLevel;
}

bool DebugFormShown() {
    std::lock_guard lock(stateMutex);
    return State().formShown;
}

bool DebugFileOn() {
    std::lock_guard lock(stateMutex);
    return State().debugFileOn;
}

bool ProzessInfoOn() {
    std::lock_guard lock(stateMutex);
    return State().prozessInfoOn;
}

std::string ProzessStack() {
    std::lock_guard lock(stateMutex);
    return State().prozessStack;
}

void WriteLog(const std::string& message) {
    if (!DebugActive)
        return;
    // Messages carry names and replies from servers: one message, one line.
    const std::string text = EscapedText(message);
    std::lock_guard lock(stateMutex);
    DebugState& s = State();
    if (s.logLevel == 2 || s.logLevel == 3)
        AppendLine(ProgramDir + "log.txt", text);
    if (s.formShown && !Unloading) {
        s.pane = AppendPaneLine(std::move(s.pane), text);
        if (s.view)
            s.view->ShowPaneText(s.pane);
    }
}

std::string DebugPaneText() {
    std::lock_guard lock(stateMutex);
    return State().pane;
}

std::string AppendPaneLine(std::string pane, std::string text) {
    const std::string crlf = "\r\n";
    while (pane.size() + text.size() + crlf.size() >= PaneLimit) {
        const auto firstBreak = pane.find(crlf);
        if (firstBreak != std::string::npos) {
            pane.erase(0, firstBreak + crlf.size());
        } else {
            pane.clear();
            if (text.size() + crlf.size() > PaneLimit - 1)
                text = Utf8Prefix(text, 100) + "...";
        }
    }
    pane += text;
    pane += crlf;
    return pane;
}

namespace {

// Adds delta to the live count of a class; a class first seen gets a new row
// when it is created, and an unknown class is ignored when it ends.
void CountClass(const std::string& className, std::int32_t delta) {
    std::lock_guard lock(stateMutex);
    DebugState& s = State();
    if (!StatisticsOn(s))
        return;
    std::size_t i = 1;
    while (i < s.klassen.size() && s.klassen[i].Name != className)
        ++i;
    if (i == s.klassen.size()) {
        if (delta < 0)
            return;
        s.klassen.push_back(KlassenInfo{className, 0});
    }
    s.klassen[i].Anzahl += delta;
    if (s.view)
        s.view->ShowClassRow(i, s.klassen[i]);
}

} // namespace

void ClassCreated(const std::string& className) {
    CountClass(className, 1);
}

void ClassTerminated(const std::string& className) {
    CountClass(className, -1);
}

std::vector<KlassenInfo> Klassen() {
    std::lock_guard lock(stateMutex);
    return State().klassen;
}

std::int32_t LiveCount(const std::string& className) {
    std::lock_guard lock(stateMutex);
    for (const auto& k : State().klassen) {
        if (k.Name == className && !className.empty())
            return k.Anzahl;
    }
    return 0;
}

void StartProzess(const std::string& name) {
    std::lock_guard lock(stateMutex);
    DebugState& s = State();
    if (s.debugFileOn) {
        if (s.prozessStack.empty())
            s.prozessStack = "|";
        s.prozessStack += name + "|";
        WriteText(ProgramDir + "debugfile.prozesse", s.prozessStack);
        if (s.prozessInfoOn) {
            CreateEmptyFile(ProzessInfoFile(CountItems(s.prozessStack, "|")));
            WriteProzessInfo(">> " + name + " <<");
            WriteProzessInfo("Start...");
        }
    }
    if (StatisticsOn(s)) {
        const std::size_t i = IndexOfProzess(s, name);
        // The clock is read as a signed 32-bit value; durations wrap either way.
        const auto now = static_cast<std::int32_t>(timeGetTime());
        s.prozesse[i].Tag = IntToText(now) + "|" + s.prozesse[i].Tag;
    }
}

void StopProzess(const std::string& name) {
    std::lock_guard lock(stateMutex);
    DebugState& s = State();
    if (s.debugFileOn) {
        if (s.prozessInfoOn)
            DeleteFileIfExists(ProzessInfoFile(CountItems(s.prozessStack, "|")));
        s.prozessStack = RemoveLastItem(s.prozessStack, "|");
        WriteText(ProgramDir + "debugfile.prozesse", s.prozessStack);
    }
    if (!StatisticsOn(s))
        return;
    const std::size_t i = IndexOfProzess(s, name);
    ProzessInfo& row = s.prozesse[i];
    const auto p = row.Tag.find('|');
    // A stop without a pending start has nothing to measure: the statistics stay.
    if (p == std::string::npos)
        return;
    // Through a 64-bit integer: a signed start time converts to the clock's bits.
    const auto start =
        static_cast<std::uint32_t>(static_cast<std::int64_t>(TextToNumber(row.Tag.substr(0, p))));
    const std::int64_t d = ClockDiff(timeGetTime(), start);
    row.Tag.erase(0, p + 1);
    CountRun(s, i, d);
}

void RecordProzessRun(const std::string& name, std::int64_t milliseconds) {
    std::lock_guard lock(stateMutex);
    DebugState& s = State();
    if (StatisticsOn(s))
        CountRun(s, IndexOfProzess(s, name), milliseconds);
}

void WriteProzessInfo(const std::string& text) {
    std::lock_guard lock(stateMutex);
    const DebugState& s = State();
    if (!s.prozessInfoOn || !DebugActive)
        return;
    AppendLine(ProzessInfoFile(CountItems(s.prozessStack, "|")), text);
}

std::size_t GetIndexOfProzess(const std::string& name) {
    std::lock_guard lock(stateMutex);
    return IndexOfProzess(State(), name);
}

std::vector<ProzessInfo> Prozesse() {
    std::lock_guard lock(stateMutex);
    return State().prozesse;
}

} // namespace ornbrook
