#pragma once

#include "diag/Debug_Modul.h"
#include "model/UrlSettings.h"

#include <QDialog>
#include <optional>

class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace ornbrook {

class MainInterface;
class UrlFileList;

// The modal dialog of one URL's own settings: how deep to watch, which names
// count (globs, one a line), the URL's own interval and whether it is paused.
// OK takes the settings only when every glob can be taken (the command line's
// rules); the reason for a refusal shows in the dialog.
class UrlSettingsForm final : public QDialog {
public:
    UrlSettingsForm(QWidget* owner, const QString& url, const UrlSettings& settings);
    UrlSettingsForm(const UrlSettingsForm&) = delete;
    UrlSettingsForm& operator=(const UrlSettingsForm&) = delete;

    // The settings as the fields hold them; none, with the reason shown, when
    // they cannot be taken.
    std::optional<UrlSettings> Judge();
    // Asks for list's settings and gives them to the watch list; false when the
    // user cancelled or the URL went while the dialog was open.
    static bool Edit(QWidget* owner, MainInterface& watchList, const UrlFileList& list);

    // After OK: what was taken.
    const UrlSettings& Taken() const { return taken_; }

    QSpinBox* Depth() const { return depth_; }
    QPlainTextEdit* Include() const { return include_; }
    QPlainTextEdit* Exclude() const { return exclude_; }
    QCheckBox* NoCase() const { return noCase_; }
    QSpinBox* Interval() const { return interval_; }
    QCheckBox* Paused() const { return paused_; }

private:
    std::optional<UrlSettings> Refuse(const QString& why);

    LiveObject live_{"UrlSettingsForm"};
    QSpinBox* depth_;
    QPlainTextEdit* include_;
    QPlainTextEdit* exclude_;
    QCheckBox* noCase_;
    QSpinBox* interval_;
    QCheckBox* paused_;
    QLineEdit* download_;
    QLineEdit* run_;
    QLabel* problem_;
    QDialogButtonBox* buttons_;
    UrlSettings taken_;
};

} // namespace ornbrook
