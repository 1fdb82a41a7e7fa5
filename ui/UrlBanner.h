#pragma once

#include "diag/Debug_Modul.h"

#include <QFrame>
#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace ornbrook {

class UrlFileList;

// The line above the file list that says what the list cannot show by itself:
// why the selected URL's last check failed (with "Check now", and "Trust..."
// when a certificate was refused), that it is being checked, that it was never
// checked, that its directory is empty or that its settings hide every file
// it lists (with "Settings..."), or that no URL is selected. Hidden when the
// files speak for themselves. Object names: "UrlBanner", its text
// "BannerText", its buttons "BannerCheckNow", "BannerTrust" and
// "BannerSettings".
class UrlBanner final : public QFrame {
public:
    struct Handlers {
        std::function<void()> CheckNow;
        std::function<void()> Trust;
        std::function<void()> Settings;
    };

    UrlBanner(QWidget* parent, Handlers handlers);

    // What to say about the selected URL (none: nothing selected) in a watch
    // list with urlCount URLs; nextTry: when the schedule tries a failed one
    // again (seconds since the epoch).
    void Show(const UrlFileList* selected, int urlCount,
              std::optional<std::int64_t> nextTry = std::nullopt);

private:
    void Say(const QString& text, bool failed, bool offerCheck, bool offerTrust,
             bool offerSettings = false);

    LiveObject live_{"UrlBanner"};
    Handlers handlers_;
    QLabel* icon_;
    QLabel* text_;
    QPushButton* checkNow_;
    QPushButton* trust_;
    QPushButton* settings_;
};

} // namespace ornbrook
