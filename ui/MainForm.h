#pragma once

#include <QWidget>
#include <functional>

namespace ornbrook {

// The program's main window. Closing it is the only way out of the program:
// its unload handler hands over to the shutdown that start-up installs.
class MainForm final : public QWidget {
public:
    explicit MainForm(std::function<void()> shutDown);

    void Form_Load();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Unload();

    std::function<void()> shutDown_;
    bool unloaded_ = false;
};

} // namespace ornbrook
