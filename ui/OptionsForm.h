#pragma once

#include "diag/Debug_Modul.h"

#include <QDialog>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace ornbrook {

class Preferences;

// The modal Options dialog: edits the check interval in seconds, kept in
// interval.dat, how many URLs are checked at once, kept in checksatonce.dat,
// how long an upload must hold still before it is reported, kept in
// settle.dat (0 to 86,400 seconds, refused like the interval), and whether the
// desktop is told about new files, kept in notify.dat.
// It shows the preferences' lines when it opens (an interval line it cannot
// take as the whole number the periodic check makes of it). The interval must
// be a whole number from 0 (off) to 86,400: anything else is refused with its
// reason beside the field, and OK stores nothing until it is mended. OK stores
// through the preferences, so the periodic check takes a new interval at its
// next tick.
class OptionsForm final : public QDialog {
public:
    OptionsForm(QWidget* owner, Preferences& preferences);
    OptionsForm(const OptionsForm&) = delete;
    OptionsForm& operator=(const OptionsForm&) = delete;

    static constexpr int MaxInterval = 86400;
    // Why the dialog cannot store text as the interval; empty when it can.
    static QString IntervalRefusal(const QString& text);
    // The same for the wait for uploads.
    static QString SettleRefusal(const QString& text);

    QLabel* Label1() const { return label1_; }
    QLineEdit* Text1() const { return text1_; }
    QSpinBox* Text2() const { return text2_; }
    QLineEdit* Text3() const { return text3_; }
    QCheckBox* Check1() const { return check1_; }
    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }

private:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    // Shows why the interval cannot be stored, if it cannot; true when it can.
    bool JudgeInterval();
    bool JudgeSettle();

    LiveObject live_{"OptionsForm"};
    Preferences& preferences_;
    QLabel* label1_;
    QLineEdit* text1_;
    QLabel* hint1_;
    QLabel* problem1_;
    QLabel* label2_;
    QSpinBox* text2_;
    QLabel* label3_;
    QLineEdit* text3_;
    QLabel* hint3_;
    QLabel* problem3_;
    QCheckBox* check1_;
    QPushButton* command1_;
    QPushButton* command2_;
};

} // namespace ornbrook
