#include "app/ProgramEntry.h"

#include "app/Startup.h"
#include "diag/DebugForm.h"
#include "diag/Debug_Modul.h"
#include "model/HeadlessCommands.h"
#include "ui/AppIcon.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <sys/socket.h>
#include <unistd.h>

namespace ornbrook {

namespace {

bool CanShowDialogs() {
    const QString platform = QGuiApplication::platformName();
    return platform != "offscreen" && platform != "minimal";
}

// The program catches nothing of its own: a failure anywhere ends it with an
// error report, as a runtime error would, and a non-zero exit status.
[[noreturn]] void ReportFatal(const char* what) {
    std::fprintf(stderr, "ornbrook: run-time error: %s\n", what);
    std::fflush(stderr);
    if (qApp && CanShowDialogs())
        QMessageBox::critical(nullptr, "Ornbrook", QString::fromUtf8(what));
    std::_Exit(1);
}

class OrnbrookApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            ReportFatal(error.what());
        } catch (...) {
            ReportFatal("unknown error");
        }
    }
};

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
}

// SIGTERM (a session logout, `kill`) and SIGINT close the main window as its close
// box would, so that placement and divider are saved and the exit status is 0.
void CloseMainWindowOnTerminationSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[1], &byte, 1);
        // Hidden in the tray it is still the window to close.
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == "MainForm") {
                window->close();
                return;
            }
        }
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

int RunProgram(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    // Any "--" option selects the command-line mode: no window, no display needed.
    for (const std::string& arg : args) {
        if (arg.starts_with("--")) {
            InitConstants();
            return RunHeadless(args, std::cout, std::cerr);
        }
    }
    SetProgramArguments(args);

    OrnbrookApplication app(argc, argv);
    app.setApplicationName("Ornbrook");
    // Every window carries the icon; the desktop file name links them to the launcher.
    app.setWindowIcon(AppIcon());
    app.setDesktopFileName(DesktopAppId);
    SetDebugViewFactory([] { return std::make_unique<DebugForm>(); });
    CloseMainWindowOnTerminationSignals(app);
    try {
        Main();
    } catch (const std::exception& error) {
        ReportFatal(error.what());
    }
    const int status = app.exec();
    ReleaseDebugView();
    return status;
}

} // namespace ornbrook
