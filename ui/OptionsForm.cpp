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
    // Five rows more than the design's dialog: why an interval is refused, how
    // many checks run at once, how long uploads are waited for and why a wait is
    // refused, and whether the desktop is told about new files; and "0 = off"
    // beside the interval.
    constexpr double Row = 360;
    constexpr double HintWidth = 1200;
    setFixedSize(TwipsRect(0, 0, 2745 + HintWidth, 1065 + 5 * Row).size());

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
    const auto problemLabel = [this](const char* name, double top) {
        auto* label = new QLabel(this);
        label->setObjectName(name);
        label->setWordWrap(true);
        label->setGeometry(TwipsRect(120, top, 2625 + HintWidth - 120, 2 * 255));
        label->setStyleSheet("color: #c00000");
        return label;
    };
    problem1_ = problemLabel("Problem1", 120 + Row);
    label2_ = new QLabel("Checks at once:", this);
    label2_->setObjectName("Label2");
    label2_->setGeometry(TwipsRect(120, 120 + 2 * Row, 1575, 255));
    text2_ = new QSpinBox(this);
    text2_->setObjectName("Text2");
    text2_->setRange(1, CheckPool::MaxAtOnce);
    text2_->setGeometry(TwipsRect(1800, 120 + 2 * Row, 855, 285));
    text2_->setAccessibleName("Checks at once");
    label2_->setBuddy(text2_);
    label3_ = new QLabel("Wait for uploads to finish (sek):", this);
    label3_->setObjectName("Label3");
    label3_->setGeometry(TwipsRect(120, 120 + 3 * Row, 1575, 255));
    text3_ = new QLineEdit(this);
    text3_->setObjectName("Text3");
    text3_->setGeometry(TwipsRect(1800, 120 + 3 * Row, 855, 285));
    text3_->setAccessibleName(
        "Seconds a new or changed file must hold still before it is reported, 0 = at once");
    label3_->setBuddy(text3_);
    hint3_ = new QLabel("0 = at once", this);
    hint3_->setObjectName("Hint3");
    hint3_->setGeometry(TwipsRect(2745, 120 + 3 * Row, HintWidth - 120, 255));
    problem3_ = problemLabel("Problem3", 120 + 4 * Row);
    check1_ = new QCheckBox("Notify about new files", this);
    check1_->setObjectName("Check1");
    check1_->setGeometry(TwipsRect(120, 120 + 5 * Row, 2535, 255));
    command1_ = new QPushButton("OK", this);
    command1_->setObjectName("Command1");
    command1_->setGeometry(TwipsRect(120, 600 + 5 * Row, 1215, 375));
    command1_->setDefault(true);
    command2_ = new QPushButton("Cancel", this);
    command2_->setObjectName("Command2");
    command2_->setGeometry(TwipsRect(1440, 600 + 5 * Row, 1215, 375));
    // A font wider than the design's leaves the labels their whole text: the
    // labels, and with them the text boxes and the dialog, grow by what is missing.
    int missing = 0;
    for (const QLabel* label : {label1_, label2_, label3_})
        missing = std::max(missing, label->sizeHint().width() - label->width());
    if (missing > 0) {
        for (QWidget* label : {label1_, label2_, label3_})
            label->resize(label->width() + missing, label->height());
        for (QWidget* box : std::initializer_list<QWidget*>{text1_, text2_, hint1_, text3_, hint3_})
            box->move(box->x() + missing, box->y());
        for (QWidget* problem : {problem1_, problem3_})
            problem->resize(problem->width() + missing, problem->height());
        setFixedSize(width() + missing, height());
    }
    setTabOrder(text1_, text2_);
    setTabOrder(text2_, text3_);
    setTabOrder(text3_, check1_);
    setTabOrder(check1_, command1_);
    setTabOrder(command1_, command2_);

    connect(text3_, &QLineEdit::textChanged, this, [this] { JudgeSettle(); });
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

QString OptionsForm::SettleRefusal(const QString& text) {
    const QString wait = text.trimmed();
    static const QRegularExpression digits("^[0-9]+$");
    if (wait.isEmpty())
        return "Type how long to wait in seconds; 0 reports uploads at once.";
    if (wait.startsWith('-') && digits.match(wait.mid(1)).hasMatch())
        return "The wait cannot be negative: 0 (at once) to 86,400 seconds.";
    if (!digits.match(wait).hasMatch())
        return "The wait is a whole number of seconds: 0 (at once) to 86,400.";
    if (wait.size() > 5 || wait.toInt() > MaxSettleSeconds)
        return "The wait is at most 86,400 seconds (one day).";
    return {};
}

bool OptionsForm::JudgeSettle() {
    const QString why = SettleRefusal(text3_->text());
    problem3_->setText(why);
    problem3_->setVisible(!why.isEmpty());
    text3_->setAccessibleDescription(why);
    return why.isEmpty();
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
    text3_->setText(QString::number(ReadSettleSeconds()));
    check1_->setChecked(ReadNotifyNewFiles());
    JudgeInterval();
    JudgeSettle();
}

void OptionsForm::Command1_Click() {
    const bool interval = JudgeInterval();
    const bool settle = JudgeSettle();
    if (!interval || !settle) {
        QLineEdit* wrong = interval ? text3_ : text1_;
        wrong->setFocus();
        wrong->selectAll();
        return;
    }
    WriteText(IntervalFileName(), ToBytes(text1_->text().trimmed()));
    WriteText(ChecksAtOnceFileName(), std::to_string(text2_->value()));
    WriteText(SettleFileName(), std::to_string(text3_->text().trimmed().toInt()));
    WriteNotifyNewFiles(check1_->isChecked());
    accept();
}

void OptionsForm::Command2_Click() {
    // Esc and the close box end the same way: nothing is written.
    reject();
}

} // namespace ornbrook
