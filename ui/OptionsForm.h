#pragma once

#include "diag/Debug_Modul.h"

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace ornbrook {

// The modal Options dialog: edits the check interval in seconds, kept in
// interval.dat. It shows the file's line when it opens, and OK stores the text
// exactly as typed; the periodic check reads the file on every tick.
class OptionsForm final : public QDialog {
public:
    explicit OptionsForm(QWidget* owner);
    OptionsForm(const OptionsForm&) = delete;
    OptionsForm& operator=(const OptionsForm&) = delete;

    // ProgramDir + "interval.dat".
    static std::string IntervalFileName();

    QLabel* Label1() const { return label1_; }
    QLineEdit* Text1() const { return text1_; }
    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }

private:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();

    LiveObject live_{"OptionsForm"};
    QLabel* label1_;
    QLineEdit* text1_;
    QPushButton* command1_;
    QPushButton* command2_;
};

} // namespace ornbrook
