#pragma once

#include "base/Event.h"
#include "base/Url.h"
#include "diag/Debug_Modul.h"
#include "platform/ProgramRunner.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace ornbrook {

class DownloadQueue;
class ProgramCommand;
class UrlFileList;
struct DownloadNews;
struct UrlSettings;

// A program run for a file has ended (or could not start).
struct ProgramNews {
    std::string Url;
    // The file's path below the URL.
    std::string Name;
    ProgramOutcome Outcome;
};

// What a URL's settings ask to be done with the files its checks report:
// download= fetches each into its folder, run= hands each to a program (after
// its download when there is one, else when it is reported). Only reported
// files count: never a starting point's, nor what came into view through a
// settings change, nor folders and links, nor files still arriving (they are
// reported once they hold still). Programs run one at a time per URL, never
// through a shell, each ended with its whole group after 60 s; what they say
// goes to the log, and a program that cannot be started is said once.
class FileActions final {
public:
    // settingsOf: the settings of a URL still watched, or null.
    using SettingsOf = std::function<const UrlSettings*(const std::string& url)>;
    FileActions(DownloadQueue& downloads, SettingsOf settingsOf,
                ProgramLimits limits = ProgramLimits{});
    ~FileActions();
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    // After a check of list: acts on the files it reported (reported: the
    // names of its report; none when it failed).
    void CheckEnded(const UrlFileList& list, const std::vector<std::string>& reported);

    // The programs' news, on the owner's thread (see ProgramRunner).
    void SetWakeUp(std::function<void()> wakeUp) { runner_.SetWakeUp(std::move(wakeUp)); }
    void Deliver() { runner_.Deliver(); }
    bool WaitForNews(std::chrono::milliseconds timeout) { return runner_.WaitForNews(timeout); }
    std::size_t Outstanding() const { return runner_.Outstanding(); }
    // No program runs from now on; running ones are ended (the window closes).
    void Close() { runner_.Close(); }

    // Why url's program could not be started, until one starts; empty when fine.
    std::string ProgramProblem(const std::string& url) const;

    // Raised on the owner's thread as each program's end is delivered.
    Event<const ProgramNews&> Ended;

private:
    void Heard(const DownloadNews& news);
    void Run(const Url& url, const ProgramCommand& program, const std::string& name,
             const std::string& path);

    LiveObject live_{"FileActions"};
    DownloadQueue& downloads_;
    SettingsOf settingsOf_;
    ProgramRunner runner_;
    Subscription news_;
    std::map<std::string, std::string> problems_;
};

} // namespace ornbrook
