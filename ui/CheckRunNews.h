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
// watch list is idle again. News is a file a check reported as new or changed
// (never one still arriving), and a URL whose check fails while the one before
// did not. A check that is its URL's starting point (the first of an added or
// edited URL) tells nothing of its files; nor does the first check of a URL
// that joined the list after this began: the user has just added it and sees it.
class CheckRunNews final {
public:
    static constexpr int MaxLines = 4;

    // Remembers every URL of the watch list as it is now.
    explicit CheckRunNews(const MainInterface& watchList);
    CheckRunNews(const CheckRunNews&) = delete;
    CheckRunNews& operator=(const CheckRunNews&) = delete;

    // Takes in the check's result; when runEnded (no check is pending any more)
    // returns the run's notice, if it found anything, and starts a new run.
    std::optional<RunNotice> CheckEnded(const UrlFileList& list, bool runEnded);

private:
    struct Finding {
        std::int32_t NewFiles = 0;
        std::int32_t ChangedFiles = 0;
        std::string Error;
    };

    RunNotice Notice() const;

    LiveObject live_{"CheckRunNews"};
    const MainInterface& watchList_;
    // Each URL known, and whether its last check failed.
    std::map<std::string, bool> failed_;
    std::map<std::string, Finding> run_;
};

} // namespace ornbrook
