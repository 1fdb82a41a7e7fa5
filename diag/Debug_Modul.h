#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ornbrook {

// Diagnostics: switches, the log, live-object counts and process timings, with
// the debug window reached only through DebugView. Every operation may be called
// from any thread; the view is told of each change while the module is locked.

// Live instances of one class.
struct KlassenInfo {
    std::string Name;
    std::int32_t Anzahl = 0;
};

// Timing statistics of one process name (one row of the timing list).
struct ProzessInfo {
    std::string Name;
    double Durchschnitt = 0;   // average in ms, rounded to 2 decimals
    std::int64_t Laengste = 0; // longest run in ms
    std::int64_t Anzahl = 0;   // completed runs
    std::int64_t Gesammt = 0;  // total ms of completed runs
    // Start times of the open runs, newest first, each followed by "|".
    std::string Tag;
};

// The debug window as the module sees it. Rows are 1-based (row 0 never holds
// a class or process); a row equal to the previous row count plus one is new.
class DebugView {
public:
    virtual ~DebugView() = default;
    virtual void ShowWindow() = 0;
    virtual void ShowPaneText(const std::string& text) = 0;
    virtual void ShowClassRow(std::size_t row, const KlassenInfo& info) = 0;
    virtual void ShowProzessRow(std::size_t row, const ProzessInfo& info) = 0;
};

// Makes the debug window when it is first shown; start-up installs the widget,
// tests install a recorder. Without a factory the window is a no-op.
void SetDebugViewFactory(std::function<std::unique_ptr<DebugView>()> factory);
// Drops the window object (before the toolkit goes away at exit).
void ReleaseDebugView();

// Switches and state.
void InitDebug();
void ShowDebugForm();
void SetLogLevel(std::int16_t level);
void EnableDebugFile();
void EnableProzessInfo();
std::int16_t LogLevel();
bool DebugFormShown();
bool DebugFileOn();
bool ProzessInfoOn();
std::string ProzessStack();

// One log line: "log.txt" at levels 2 and 3 (best effort), the debug window always;
// control characters and bytes that are not UTF-8 escaped (EscapedText).
void WriteLog(const std::string& text);

// The text pane of the debug window, kept below 32001 bytes.
std::string DebugPaneText();
// The pane after adding one line: oldest lines dropped until it fits; a line that
// cannot fit even alone is cut to its first 100 characters and "...".
std::string AppendPaneLine(std::string pane, std::string text);
constexpr std::size_t PaneLimit = 32001;

// Live-object counts.
void ClassCreated(const std::string& className);
void ClassTerminated(const std::string& className);
std::vector<KlassenInfo> Klassen();
std::int32_t LiveCount(const std::string& className);

// Process timings and the crash-trace files.
void StartProzess(const std::string& name);
void StopProzess(const std::string& name);
void WriteProzessInfo(const std::string& text);
// One completed run of a process that was timed elsewhere: for work that
// overlaps other work (checks on worker threads), which the nesting of
// StartProzess and StopProzess cannot describe. Touches neither the stack of
// open processes nor the trace files.
void RecordProzessRun(const std::string& name, std::int64_t milliseconds);
std::size_t GetIndexOfProzess(const std::string& name);
std::vector<ProzessInfo> Prozesse();

// Reports a class's creation and destruction by its name for the object's life;
// a class holds one as its first member: `LiveObject live_{"UrlFileList"};`.
class LiveObject {
public:
    explicit LiveObject(const char* className) : name_(className) { ClassCreated(name_); }
    LiveObject(const LiveObject& other) : name_(other.name_) { ClassCreated(name_); }
    // An object keeps its own class name: nothing to copy, self or not.
    // NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
    LiveObject& operator=(const LiveObject&) { return *this; }
    ~LiveObject() { ClassTerminated(name_); }

private:
    const char* name_;
};

// Brackets a timed section: StartProzess now, StopProzess on every way out.
class ProzessScope {
public:
    explicit ProzessScope(std::string name) : name_(std::move(name)) { StartProzess(name_); }
    // A trace file that cannot be written must not escape a destructor.
    ~ProzessScope() {
        try {
            StopProzess(name_);
        } catch (...) {
        }
    }
    ProzessScope(const ProzessScope&) = delete;
    ProzessScope& operator=(const ProzessScope&) = delete;

private:
    std::string name_;
};

} // namespace ornbrook
