#include "ui/MainForm.h"

#include <QCloseEvent>

namespace ornbrook {

MainForm::MainForm(std::function<void()> shutDown) : shutDown_(std::move(shutDown)) {
    setObjectName("MainForm");
    setWindowTitle("Ornbrook");
}

void MainForm::Form_Load() {
    resize(451, 314);
}

void MainForm::closeEvent(QCloseEvent* event) {
    // The unload never cancels.
    event->accept();
    Form_Unload();
}

void MainForm::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    if (shutDown_)
        shutDown_();
}

} // namespace ornbrook
