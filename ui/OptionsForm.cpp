#include "ui/OptionsForm.h"

#include "app/FileIO_Code.h"
#include "app/ProgramGlobals.h"
#include "diag/DisplayText.h"
#include "diag/Text_Code.h"
#include "ui/Twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace ornbrook {

OptionsForm::OptionsForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("OptionsForm");
    setWindowTitle("Options");
    setFixedSize(TwipsRect(0, 0, 2745, 1065).size());

    label1_ = new QLabel("Check-Interval (sek):", this);
    label1_->setObjectName("Label1");
    label1_->setGeometry(TwipsRect(120, 120, 1575, 255));
    text1_ = new QLineEdit(this);
    text1_->setObjectName("Text1");
    text1_->setGeometry(TwipsRect(1800, 120, 855, 285));
    command1_ = new QPushButton("OK", this);
    command1_->setObjectName("Command1");
    command1_->setGeometry(TwipsRect(120, 600, 1215, 375));
    command1_->setDefault(true);
    command2_ = new QPushButton("Cancel", this);
    command2_->setObjectName("Command2");
    command2_->setGeometry(TwipsRect(1440, 600, 1215, 375));
    // A font wider than the design's leaves the label its whole text: the label,
    // and with it the text box and the dialog, grow by what is missing.
    if (const int missing = label1_->sizeHint().width() - label1_->width(); missing > 0) {
        label1_->resize(label1_->width() + missing, label1_->height());
        text1_->move(text1_->x() + missing, text1_->y());
        setFixedSize(width() + missing, height());
    }
    setTabOrder(text1_, command1_);
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
}

void OptionsForm::Command1_Click() {
    WriteText(IntervalFileName(), ToBytes(text1_->text()));
    accept();
}

void OptionsForm::Command2_Click() {
    // Esc and the close box end the same way: nothing is written.
    reject();
}

} // namespace ornbrook
