#include "ui/HelpMessage.h"

#include "ui/DisplayText.h"

#include <QMessageBox>

namespace ornbrook {

std::string HelpText() {
    static const char* const lines[] = {
        "menue:",
        "\tRefresh (Alt + r): refreshs state of old and new files",
        "\tOptions (Alt + o): opens a dialog with changeable options",
        "\tHelp (Alt + h): opens this dialog",
        "\tAbout (Alt + a): opens a dialog with informations about the coder",
        "",
        "keys:",
        "\tF1: opens this dialog",
        "\tIns: inserts a new URL",
        "\tF2: edits selected URL",
        "\tDel: deletes selected URL",
        "\tEnter: checks selected URL for new files",
        "\tAlt + F4: exits this tool",
        "",
        "URLs-properties:",
        "\tbold: new or old files",
        "\tgrey: checking",
        "\tred: error",
        "",
        "Content-properties:",
        "\tbold: new file",
        "\tgrey: old file",
        "",
        "Send me a mail for more questions.",
    };
    std::string text = lines[0];
    for (std::size_t i = 1; i < std::size(lines); ++i)
        text += std::string("\r\n") + lines[i];
    return text;
}

void ShowHelpMessage(QWidget* parent) {
    QMessageBox box(parent);
    box.setObjectName("HelpMessage");
    box.setWindowTitle("Help");
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayText(HelpText()));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void ShowDamagedDataMessage(QWidget* window, const std::string& notice) {
    QMetaObject::invokeMethod(
        window,
        [window, text = DisplayText(notice)] {
            auto* box =
                new QMessageBox(QMessageBox::Warning, "Ornbrook", text, QMessageBox::Ok, window);
            box->setObjectName("DamagedDataMessage");
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        },
        Qt::QueuedConnection);
}

} // namespace ornbrook
