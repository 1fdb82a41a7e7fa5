#include "ui/OptionsForm.h"

#include "base/Text_Code.h"
#include "check/CheckPool.h"
#include "model/Preferences.h"
#include "ui/DisplayText.h"
#include "ui/Twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

#include <algorithm>

namespace ornbrook {

OptionsForm::OptionsForm(QWidget* owner, Preferences& preferences)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      preferences_(preferences) {
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

namespace {

// A number of seconds from 0 to a day as typed in one of the dialog's fields;
// why it cannot be taken, in that field's words (empty when it can).
struct SecondsWords {
    const char* Empty; // nothing typed
    const char* Noun;  // "interval"
    const char* Zero;  // what 0 means
};

QString SecondsRefusal(const QString& text, int most, const SecondsWords& words) {
    const QString typed = text.trimmed();
    static const QRegularExpression digits("^[0-9]+$");
    const QString noun = words.Noun;
    const QString range = QString("0 (%1) to 86,400").arg(words.Zero);
    if (typed.isEmpty())
        return words.Empty;
    if (typed.startsWith('-') && digits.match(typed.mid(1)).hasMatch())
        return "The " + noun + " cannot be negative: " + range + " seconds.";
    if (!digits.match(typed).hasMatch())
        return "The " + noun + " is a whole number of seconds: " + range + ".";
    if (typed.size() > 5 || typed.toInt() > most)
        return "The " + noun + " is at most 86,400 seconds (one day).";
    return {};
}

// Shows why the field's text is refused beside it, and to a screen reader on
// the field; true when there is nothing to say.
bool ShowRefusal(QLineEdit* field, QLabel* problem, const QString& why) {
    problem->setText(why);
    problem->setVisible(!why.isEmpty());
    field->setAccessibleDescription(why);
    return why.isEmpty();
}

} // namespace

QString OptionsForm::IntervalRefusal(const QString& text) {
    return SecondsRefusal(
        text, MaxInterval,
        {"Type the interval in seconds; 0 switches the periodic check off.", "interval", "off"});
}

QString OptionsForm::SettleRefusal(const QString& text) {
    return SecondsRefusal(
        text, Preferences::MaxSettleSeconds,
        {"Type how long to wait in seconds; 0 reports uploads at once.", "wait", "at once"});
}

bool OptionsForm::JudgeSettle() {
    return ShowRefusal(text3_, problem3_, SettleRefusal(text3_->text()));
}

bool OptionsForm::JudgeInterval() {
    return ShowRefusal(text1_, problem1_, IntervalRefusal(text1_->text()));
}

void OptionsForm::Form_Load() {
    // What the periodic check makes of the line, in a form the field takes: a
    // line it takes as it stands, else the whole number it means (0 for off).
    // A missing file gets the timer's default, not an empty line that would
    // switch checking off.
    preferences_.KeepIntervalDefault();
    const std::string line = TrimSpaces(preferences_.IntervalLine());
    const QString shown = DisplayText(line);
    text1_->setText(IntervalRefusal(shown).isEmpty() ? shown
                                                     : QString::number(CheckIntervalOf(line)));
    text2_->setValue(preferences_.ChecksAtOnce());
    text3_->setText(QString::number(preferences_.SettleSeconds()));
    check1_->setChecked(preferences_.NotifyNewFiles());
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
    using Key = Preferences::Key;
    preferences_.SetLine(Key::Interval, ToBytes(text1_->text().trimmed()));
    preferences_.SetLine(Key::ChecksAtOnce, std::to_string(text2_->value()));
    preferences_.SetLine(Key::Settle, std::to_string(text3_->text().trimmed().toInt()));
    preferences_.SetLine(Key::Notify, check1_->isChecked() ? "1" : "0");
    accept();
}

void OptionsForm::Command2_Click() {
    // Esc and the close box end the same way: nothing is written.
    reject();
}

} // namespace ornbrook
