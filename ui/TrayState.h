#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace ornbrook {

class MainInterface;

// What the watch list looks like at a glance: the tray icon's mark, its
// tooltip and the window title are all made from it.
struct TrayState {
    enum class Kind { AllFine, Changes, Failures, ChangesAndFailures };

    std::int32_t URLs = 0;
    // URLs with new, changed or gone files, and their counts; files still
    // arriving are not counted.
    std::int32_t ChangedURLs = 0;
    std::int32_t NewFiles = 0;
    std::int32_t ChangedFiles = 0;
    std::int32_t GoneFiles = 0;
    // URLs whose last check failed.
    std::int32_t FailedURLs = 0;
    // "checking 3 of 20" while checks are pending.
    std::string Progress;

    static TrayState Of(const MainInterface& watchList);

    Kind IconKind() const;
    // A few lines: the program's name, then changes, failures and progress.
    QString ToolTip() const;
    // "Ornbrook", or "Ornbrook (2)" while 2 URLs have changes, so that a
    // taskbar shows it too.
    QString WindowTitle() const;

    bool operator==(const TrayState&) const = default;
};

} // namespace ornbrook
