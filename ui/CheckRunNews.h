#pragma once

#include "diag/Debug_Modul.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

class MainInterface;
class UrlFileList;

// What a finished check run has to tell a user who is not looking at the window.
struct RunNotice {
    // "7 new files", "1 URL failed", or both.
    QString Summary;
    // One line per URL (passwords masked), at most MaxLines with the last one
    // saying how many more there are.
    QStringList Lines;
    // The first URL named, exactly as watched: a click on the notice selects it.
    std::string URL;
};

// Collects the news of one check run: the checks that are pending until the
// watch list is idle again. News is a name that is new now and was not when the
// URL's check began, and a URL whose check fails while the one before did not.
// A URL that joins the list while the program runs has its first check as a
// starting point, not as news: the user has just added it and sees it.
class CheckRunNews final {
public:
    static constexpr int MaxLines = 4;

    // Remembers every URL of the watch list as it is now.
    explicit CheckRunNews(const MainInterface& watchList);
    CheckRunNews(const CheckRunNews&) = delete;
    CheckRunNews& operator=(const CheckRunNews&) = delete;

    void CheckBegins(const UrlFileList& list);
    // Takes in the check's result; when runEnded (no check is pending any more)
    // returns the run's notice, if it found anything, and starts a new run.
    std::optional<RunNotice> CheckEnded(const UrlFileList& list, bool runEnded);

private:
    // Names in the new state, with how often each occurs.
    using NameCounts = std::map<std::string, std::int32_t>;
    struct Memory {
        NameCounts NewNames;
        bool Failed = false;
    };
    struct Finding {
        std::int32_t NewNames = 0;
        std::string Error;
    };

    static NameCounts NewNamesOf(const UrlFileList& list);
    RunNotice Notice() const;

    LiveObject live_{"CheckRunNews"};
    const MainInterface& watchList_;
    std::map<std::string, Memory> known_;
    std::map<std::string, Finding> run_;
};

} // namespace ornbrook
