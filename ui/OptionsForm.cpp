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
#include <QSpinBox>

#include <algorithm>

namespace ornbrook {

OptionsForm::OptionsForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("OptionsForm");
    setWindowTitle("Options");
    // Two rows more than the design's dialog: how many checks run at once, and
    // whether the desktop is told about new files.
    constexpr double Row = 360;
    setFixedSize(TwipsRect(0, 0, 2745, 1065 + 2 * Row).size());

    label1_ = new QLabel("Check-Interval (sek):", this);
    label1_->setObjectName("Label1");
    label1_->setGeometry(TwipsRect(120, 120, 1575, 255));
    text1_ = new QLineEdit(this);
    text1_->setObjectName("Text1");
    text1_->setGeometry(TwipsRect(1800, 120, 855, 285));
    label2_ = new QLabel("Checks at once:", this);
    label2_->setObjectName("Label2");
    label2_->setGeometry(TwipsRect(120, 120 + Row, 1575, 255));
    text2_ = new QSpinBox(this);
    text2_->setObjectName("Text2");
    text2_->setRange(1, CheckPool::MaxAtOnce);
    text2_->setGeometry(TwipsRect(1800, 120 + Row, 855, 285));
    check1_ = new QCheckBox("Notify about new files", this);
    check1_->setObjectName("Check1");
    check1_->setGeometry(TwipsRect(120, 120 + 2 * Row, 2535, 255));
    command1_ = new QPushButton("OK", this);
    command1_->setObjectName("Command1");
    command1_->setGeometry(TwipsRect(120, 600 + 2 * Row, 1215, 375));
    command1_->setDefault(true);
    command2_ = new QPushButton("Cancel", this);
    command2_->setObjectName("Command2");
    command2_->setGeometry(TwipsRect(1440, 600 + 2 * Row, 1215, 375));
    // A font wider than the design's leaves the label its whole text: the label,
    // and with it the text box and the dialog, grow by what is missing.
    const int missing = std::max(label1_->sizeHint().width() - label1_->width(),
                                 label2_->sizeHint().width() - label2_->width());
    if (missing > 0) {
        for (QWidget* label : {static_cast<QWidget*>(label1_), static_cast<QWidget*>(label2_)})
            label->resize(label->width() + missing, label->height());
        for (QWidget* box : {static_cast<QWidget*>(text1_), static_cast<QWidget*>(text2_)})
            box->move(box->x() + missing, box->y());
        setFixedSize(width() + missing, height());
    }
    setTabOrder(text1_, text2_);
    setTabOrder(text2_, check1_);
    setTabOrder(check1_, command1_);
    setTabOrder(command1_, command2_);

    connect(command1_, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(command2_, &QPushButton::clicked, this, [this] { Command2_Click(); });
    Form_Load();
}

std::string OptionsForm::IntervalFileName() {
    return ProgramDir + "interval.dat";
}

void OptionsForm::Form_Load() {
    text1_->setText(DisplayText(TrimSpaces(ReadFirstLine(IntervalFileName(), ""))));
    text2_->setValue(ReadChecksAtOnce());
    check1_->setChecked(ReadNotifyNewFiles());
}

void OptionsForm::Command1_Click() {
    WriteText(IntervalFileName(), ToBytes(text1_->text()));
    WriteText(ChecksAtOnceFileName(), std::to_string(text2_->value()));
    WriteNotifyNewFiles(check1_->isChecked());
    accept();
}

void OptionsForm::Command2_Click() {
    // Esc and the close box end the same way: nothing is written.
    reject();
}

} // namespace ornbrook
