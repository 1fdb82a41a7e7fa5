#include "app/ProgramEntry.h"

#include "app/CommandChannel.h"
#include "app/Startup.h"
#include "app/WatchService.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"
#include "diag/Debug_Modul.h"
#include "model/DataFileLock.h"
#include "model/HeadlessCommands.h"
#include "model/MainInterface_Modul.h"
#include "ui/AppIcon.h"
#include "ui/DebugForm.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iostream>
#include <optional>
#include <sys/socket.h>
#include <thread>
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

namespace {

// Waits for the right to write the program directory's files. The window
// holds it for its whole life, so holding it means no window runs; while
// another program holds it, a running window may take what this run wants from
// it instead: handOver tries that, and true ends the wait. Says once that it
// waits.
bool TakeTurn(DataFileLock& lock, const std::function<bool()>& handOver) {
    bool told = false;
    for (;;) {
        if (lock.TryAcquire())
            return true;
        if (handOver())
            return false;
        if (!told) {
            std::cerr << "ornbrook: waiting for another run of Ornbrook in " << ProgramDir
                      << " to finish\n";
            told = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// The command-line mode: handed to the running window, or carried out here on
// the files when no window runs.
int RunCommandLine(int& argc, char** argv, std::vector<std::string> args) {
    // Read here, before the command may go to a window, which has no standard input.
    if (const auto refused = TakePasswordFromStdin(args, std::cin)) {
        std::cout << refused->Out;
        std::cerr << refused->Err;
        return refused->Status;
    }
    // Usage errors touch no file: not even the program directory is made.
    if (const auto answer = AnswerWithoutWatchList(args)) {
        std::cout << answer->Out;
        std::cerr << answer->Err;
        return answer->Status;
    }
    InitConstants();
    if (WorksWithoutWatchList(args)) {
        const CommandResult result = TrustServerCertificate(args[1]);
        std::cout << result.Out;
        std::cerr << result.Err;
        return result.Status;
    }
    // For the local socket only, made when a window may be there to talk to;
    // no display is needed.
    std::optional<QCoreApplication> app;
    DataFileLock lock;
    Result<std::optional<CommandResult>> fromWindow;
    try {
        const bool ours = TakeTurn(lock, [&] {
            if (!app)
                app.emplace(argc, argv);
            fromWindow = HandToWindow(args);
            return !fromWindow || fromWindow->has_value();
        });
        if (!ours) {
            if (!fromWindow) {
                std::cerr << "ornbrook: " << fromWindow.error().Message << "\n";
                return CommandFileTrouble;
            }
            const CommandResult& answer = **fromWindow;
            std::cout << answer.Out;
            std::cerr << answer.Err;
            return answer.Status;
        }
    } catch (const std::exception& error) {
        std::cerr << "ornbrook: " << error.what() << "\n";
        return CommandFileTrouble;
    }
    return RunHeadless(args, std::cout, std::cerr);
}

// -h, -help or -? (also after "/" or "\\", as the switches are written), or --help.
bool WantsHelp(const std::vector<std::string>& args) {
    for (std::string token : args) {
        if (token == "--help")
            return true;
        if (token.empty() || (token[0] != '-' && token[0] != '/' && token[0] != '\\'))
            continue;
        const std::string word = UpperCase(TrimSpaces(token.substr(1)));
        if (word == "H" || word == "HELP" || word == "?")
            return true;
    }
    return false;
}

} // namespace

int RunProgram(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    // Answered before anything else: no display, no window (a running one is
    // left alone), no file.
    if (WantsHelp(args)) {
        std::cout << HeadlessUsage();
        return CommandDone;
    }
    // The service: no window, no display, no session bus.
    if (WantsWatch(args))
        return RunWatch(argc, argv, args);
    // Any "--" option selects the command-line mode: no window, no display needed.
    for (const std::string& arg : args) {
        if (arg.starts_with("--"))
            return RunCommandLine(argc, argv, args);
    }
    SetProgramArguments(args);

    OrnbrookApplication app(argc, argv);
    app.setApplicationName("Ornbrook");
    // Every window carries the icon; the desktop file name links them to the launcher.
    app.setWindowIcon(AppIcon());
    app.setDesktopFileName(DesktopAppId);
    // One window per program directory: a second start shows the first.
    InitConstants();
    DataFileLock lock;
    std::optional<DataFileLock::Holder> service;
    try {
        if (!TakeTurn(lock, [&service] {
                // A service has no window to show: this start ends, told why.
                service = DataFileLock::ReadHolder();
                if (service && service->Kind != "watch")
                    service.reset();
                return service || AskWindowToShow();
            })) {
            if (!service)
                return 0;
            std::cerr << "ornbrook: a service (process " << service->Pid << ") holds "
                      << EscapedText(ProgramDir) << "\n";
            return 1;
        }
    } catch (const std::exception& error) {
        ReportFatal(error.what());
    }
    lock.WriteHolder("window");
    SetDebugViewFactory([] { return std::make_unique<DebugForm>(); });
    CloseMainWindowOnTerminationSignals(app);
    try {
        Main();
    } catch (const std::exception& error) {
        ReportFatal(error.what());
    }
    // Command-line runs hand their commands to this window from now on.
    CommandServer commands(*TheMainInterface, &BringMainWindowToFront);
    if (!commands.Listen())
        WriteLog("no command channel: command-line runs wait until this window closes");
    const int status = app.exec();
    ReleaseDebugView();
    return status;
}

} // namespace ornbrook
