#include "ui/AboutForm.h"

#include "platform/windows_Interface.h"
#include "ui/DisplayText.h"
#include "ui/Twips.h"

#include <QFontDatabase>
#include <QLabel>
#include <QMouseEvent>

namespace ornbrook {

namespace {

struct LabelDesign {
    double Left, Top, Width, Height;
    const char* Text;
    bool Link;       // yellow, bold, sized to its text
    bool Underlined; // a clickable address: underlined, hand pointer
    const char* ToolTip;
};

// The euro sign is written as UTF-8 bytes.
const LabelDesign Designs[7] = {
    {120, 120, 4455, 255, "tHls t00l w4s c0D3d bY", false, false, nullptr},
    {1980, 360, 735, 195, AboutForm::AuthorName, true, false, "c0d3r"},
    {120, 720, 4455, 495, "pl34sE v1sIt mY l1tt|3 h0MeP4g\xe2\x82\xac", false, false, nullptr},
    {525, 960, 3675, 195, AboutForm::WebAddress, true, true, "h0MeP4g\xe2\x82\xac"},
    {120, 1320, 4455, 495, "oR s3Nd m\xe2\x82\xac 4 m41L", false, false, nullptr},
    {1350, 1560, 1995, 195, AboutForm::MailAddress, true, true, "m41L"},
    {120, 2040, 4455, 255, "v3rs10n 0.1", false, false, nullptr},
};

// Verdana where it is installed; otherwise the nearest wide sans-serif.
QFont LabelFont() {
    QFont font;
    font.setFamilies({"Verdana", "DejaVu Sans", "Bitstream Vera Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    return font;
}

} // namespace

AboutForm::AboutForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("AboutForm");
    setWindowTitle("About");
    setFixedSize(TwipsRect(0, 0, 4680, 2400).size());
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::black);
    setPalette(background);
    setAutoFillBackground(true);

    for (std::size_t i = 0; i < labels_.size(); ++i) {
        const LabelDesign& design = Designs[i];
        auto* label = new QLabel(DisplayText(design.Text), this);
        labels_[i] = label;
        label->setObjectName(QString("Label%1").arg(i + 1));
        // Centred across the box, from its top, as the two-line boxes need.
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        QFont font = LabelFont();
        font.setBold(design.Link);
        font.setUnderline(design.Underlined);
        label->setFont(font);
        QPalette colours = label->palette();
        colours.setColor(QPalette::WindowText,
                         design.Link ? QColor(255, 255, 0) : QColor(0, 255, 0));
        label->setPalette(colours);
        const QRect box = TwipsRect(design.Left, design.Top, design.Width, design.Height);
        label->setGeometry(box);
        if (design.Link) {
            // Sized to its text, around the centre of its design box.
            label->adjustSize();
            label->move(box.center().x() - label->width() / 2, box.top());
        }
        if (design.ToolTip)
            label->setToolTip(DisplayText(design.ToolTip));
        if (design.Underlined) {
            label->setCursor(Qt::PointingHandCursor);
            label->installEventFilter(this);
        }
    }
}

bool AboutForm::eventFilter(QObject* watched, QEvent* event) {
    // A click is a left press and release on the label.
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* label = static_cast<QLabel*>(watched);
        if (mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            if (watched == labels_[3])
                Label4_Click();
            else if (watched == labels_[5])
                Label6_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AboutForm::Label4_Click() {
    OpenDocument(WebAddress);
}

void AboutForm::Label6_Click() {
    SendMail(MailAddress);
}

} // namespace ornbrook
