#include "ui/OptionsForm.h"

#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"
#include "check/CheckPool.h"
#include "model/CheckSettings.h"
#include "ui/DisplayText.h"
#include "ui/NotifySetting.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

#include <algorithm>

namespace ornbrook {

OptionsForm::OptionsForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("OptionsForm");
    setWindowTitle("Options");
    // Three rows more than the design's dialog: why an interval is refused, how
    // many checks run at once, and whether the desktop is told about new files;
    // and "0 = off" beside the interval.
    constexpr double Row = 360;
    constexpr double HintWidth = 1200;
    setFixedSize(TwipsRect(0, 0, 2745 + HintWidth, 1065 + 3 * Row).size());

    label1_ = new QLabel("Check-Interval (sek):", this);
    label1_->setObjectName("Label1");
    label1_->setGeometry(TwipsRect(120, 120, 1575, 255));
    text1_ = new QLineEdit(this);
    text1_->setObjectName("Text1");
    text1_->setGeometry(TwipsRect(1800, 120, 855, 285));
    text1_->setAccessibleName("Check interval in seconds, 0 = off");
    label1_->setBuddy(text1_);
    hint1_ = new QLabel("0 = off", this);
    hint1_->setObjectName("Hint1");
    hint1_->setGeometry(TwipsRect(2745, 120, HintWidth - 120, 255));
    problem1_ = new QLabel(this);
    problem1_->setObjectName("Problem1");
    problem1_->setWordWrap(true);
    problem1_->setGeometry(TwipsRect(120, 120 + Row, 2625 + HintWidth - 120, 2 * 255));
    problem1_->setStyleSheet("color: #c00000");
    const double below = Row; // the rows below the interval move down by one
    label2_ = new QLabel("Checks at once:", this);
    label2_->setObjectName("Label2");
    label2_->setGeometry(TwipsRect(120, 120 + Row + below, 1575, 255));
    text2_ = new QSpinBox(this);
    text2_->setObjectName("Text2");
    text2_->setRange(1, CheckPool::MaxAtOnce);
    text2_->setGeometry(TwipsRect(1800, 120 + Row + below, 855, 285));
    text2_->setAccessibleName("Checks at once");
    label2_->setBuddy(text2_);
    check1_ = new QCheckBox("Notify about new files", this);
    check1_->setObjectName("Check1");
    check1_->setGeometry(TwipsRect(120, 120 + 2 * Row + below, 2535, 255));
    command1_ = new QPushButton("OK", this);
    command1_->setObjectName("Command1");
    command1_->setGeometry(TwipsRect(120, 600 + 2 * Row + below, 1215, 375));
    command1_->setDefault(true);
    command2_ = new QPushButton("Cancel", this);
    command2_->setObjectName("Command2");
    command2_->setGeometry(TwipsRect(1440, 600 + 2 * Row + below, 1215, 375));
    // A font wider than the design's leaves the label its whole text: the label,
    // and with it the text box and the dialog, grow by what is missing.
    const int missing = std::max(label1_->sizeHint().width() - label1_->width(),
                                 label2_->sizeHint().width() - label2_->width());
    if (missing > 0) {
        for (QWidget* label : {static_cast<QWidget*>(label1_), static_cast<QWidget*>(label2_)})
            label->resize(label->width() + missing, label->height());
        for (QWidget* box : {static_cast<QWidget*>(text1_), static_cast<QWidget*>(text2_),
                             static_cast<QWidget*>(hint1_)})
            box->move(box->x() + missing, box->y());
        problem1_->resize(problem1_->width() + missing, problem1_->height());
        setFixedSize(width() + missing, height());
    }
    setTabOrder(text1_, text2_);
    setTabOrder(text2_, check1_);
    setTabOrder(check1_, command1_);
    setTabOrder(command1_, command2_);

    connect(text1_, &QLineEdit::textChanged, this, [this] { JudgeInterval(); });
    connect(command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });
    Form_Load();
}

std::string OptionsForm::IntervalFileName() {
    return ProgramDir + "interval.dat";
}

QString OptionsForm::IntervalRefusal(const QString& text) {
    const QString interval = text.trimmed();
    static const QRegularExpression digits("^[0-9]+$");
    if (interval.isEmpty())
        return "Type the interval in seconds; 0 switches the periodic check off.";
    if (interval.startsWith('-') && digits.match(interval.mid(1)).hasMatch())
        return "The interval cannot be negative: 0 (off) to 86,400 seconds.";
    if (!digits.match(interval).hasMatch())
        return "The interval is a whole number of seconds: 0 (off) to 86,400.";
    if (interval.size() > 5 || interval.toInt() > MaxInterval)
        return "The interval is at most 86,400 seconds (one day).";
    return {};
}

bool OptionsForm::JudgeInterval() {
    const QString why = IntervalRefusal(text1_->text());
    problem1_->setText(why);
    problem1_->setVisible(!why.isEmpty());
    // A screen reader on the field hears why it is refused.
    text1_->setAccessibleDescription(why);
    return why.isEmpty();
}

void OptionsForm::Form_Load() {
    // What the periodic check makes of the line, in a form the field takes: a
    // line it takes as it stands, else the whole number it means (0 for off).
    // A missing file gets the timer's default, not an empty line that would
    // switch checking off.
    const std::string line = TrimSpaces(ReadFirstLine(IntervalFileName(), DefaultIntervalText));
    const QString shown = DisplayText(line);
    text1_->setText(IntervalRefusal(shown).isEmpty() ? shown
                                                     : QString::number(CheckIntervalOf(line)));
    text2_->setValue(ReadChecksAtOnce());
    check1_->setChecked(ReadNotifyNewFiles());
    JudgeInterval();
}

void OptionsForm::Command1_Click() {
    if (!JudgeInterval()) {
        text1_->setFocus();
        text1_->selectAll();
        return;
    }
    WriteText(IntervalFileName(), ToBytes(text1_->text().trimmed()));
    WriteText(ChecksAtOnceFileName(), std::to_string(text2_->value()));
    WriteNotifyNewFiles(check1_->isChecked());
    accept();
}

void OptionsForm::Command2_Click() {
    // Esc and the close box end the same way: nothing is written.
    reject();
}

} // namespace ornbrook
