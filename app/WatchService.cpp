#include "app/WatchService.h"

#include "app/CommandChannel.h"
#include "app/Startup.h"
#include "base/Clock.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"
#include "diag/Debug_Modul.h"
#include "model/DataFileLock.h"
#include "model/DownloadQueue.h"
#include "model/FileStore.h"
#include "model/MainInterface.h"
#include "model/MainInterface_Modul.h"
#include "model/UrlFileList.h"
#include "model/UrlNames.h"
#include "ui/CheckPump.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>
#include <set>
#include <sys/socket.h>
#include <systemd/sd-daemon.h>
#include <thread>
#include <unistd.h>

namespace ornbrook {

namespace {

// Results merged while a run goes on are written no later than this, as the
// window does.
constexpr int SaveDelayMilliseconds = 10000;

// One line of the service's log: whatever came from a server is escaped here.
void Say(const std::string& line) {
    std::cout << EscapedText(line) << '\n' << std::flush;
}

std::string Masked(const std::string& url) {
    return Url(url).Masked();
}

std::int64_t SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int signalPair[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPair[0], &byte, 1);
}

// The schedule and the log of one watch list, until a stop signal.
class Service final {
public:
    explicit Service(MainInterface& watchList)
        : watchList_(watchList), interval_(watchList.Prefs().Interval()) {
        timer_.setSingleShot(true);
        // A coarse timer may fire early, and an early wake finds nothing due.
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Due(); });
        // The next due time is looked for once per turn of the event loop,
        // however many checks ended in it: it reads every URL's entries.
        replan_.setSingleShot(true);
        replan_.setInterval(0);
        QObject::connect(&replan_, &QTimer::timeout, &replan_, [this] { Plan(); });
        saveTimer_.setSingleShot(true);
        saveTimer_.setInterval(SaveDelayMilliseconds);
        QObject::connect(&saveTimer_, &QTimer::timeout, &saveTimer_,
                         [this] { watchList_.SaveIfChanged(); });
        // The first global run comes one interval and a second after the
        // start, as the window's tick counts it.
        globalAt_ = SteadyMilliseconds() + (static_cast<std::int64_t>(interval_) + 1) * 1000;
        events_ += watchList_.CheckEnded.Connect([this](const UrlFileList& list) {
            Told(list);
            if (watchList_.HasUnsavedChanges() && !saveTimer_.isActive())
                saveTimer_.start();
            replan_.start();
        });
        events_ += watchList_.Happened.Connect([](const HistoryEvent& event) {
            const std::string url(UrlNames::MaskedPart(event.Url));
            if (event.What == "saved" || event.What == "refused" || event.What == "program ended")
                Say(url + ": " + event.What + " " + event.Name + ": " + event.Detail);
            else if (LogLevel() >= 2 && event.What != "check failed")
                Say(url + ": " + event.What + " " + event.Name);
        });
        events_ += watchList_.Downloads().News.Connect([](const DownloadNews& news) {
            if (news.What == DownloadNews::Stage::Failed)
                Say(Masked(news.Url) + ": not saved " + news.Name + ": " + news.Message);
        });
        // A URL added, put back, edited or given its own interval.
        events_ += watchList_.ListChanged.Connect([this] { replan_.start(); });
        events_ += watchList_.EntryChanged.Connect([this](const UrlFileList&) { replan_.start(); });
        Plan();
    }

private:
    void Told(const UrlFileList& list) {
        if (list.IsError()) {
            Say(Masked(list.URL()) + ": " + list.GetErrorMsg());
            failing_.insert(list.URL());
            return;
        }
        const UrlFileList::CheckNews& news = list.LastCheckNews();
        std::string counts;
        const auto add = [&counts](std::size_t n, const char* what) {
            if (n > 0)
                counts += (counts.empty() ? ": " : ", ") + std::to_string(n) + " " + what;
        };
        add(static_cast<std::size_t>(news.NewFiles), "new");
        add(static_cast<std::size_t>(news.ChangedFiles), "changed");
        add(news.Gone.size(), "gone");
        if (news.StartingPoint)
            counts = ": starting point, " + std::to_string(list.GetFilesCount()) + " entries";
        // Quiet checks are detail; news, a recovery and a first look are events.
        const bool recovered = failing_.erase(list.URL()) > 0;
        if (!counts.empty() || recovered || LogLevel() >= 2)
            Say(Masked(list.URL()) + ": ok" + counts);
    }

    // Starts what is due, then sleeps until the next thing is.
    void Due() {
        const std::int64_t now = SteadyMilliseconds();
        const bool globalRunDue = interval_ > 0 && now >= globalAt_;
        if (globalRunDue)
            globalAt_ = now + (static_cast<std::int64_t>(interval_) + 1) * 1000;
        watchList_.CheckSettling(static_cast<std::int64_t>(std::time(nullptr)));
        watchList_.CheckDueFiles(globalRunDue);
        Plan();
    }

    void Plan() {
        std::optional<std::int64_t> wait = watchList_.MillisecondsToNextDue(
            static_cast<std::int64_t>(std::time(nullptr)), timeGetTime());
        if (interval_ > 0)
            wait = std::min(wait.value_or(std::numeric_limits<std::int64_t>::max()),
                            std::max<std::int64_t>(globalAt_ - SteadyMilliseconds(), 0));
        if (!wait) {
            timer_.stop();
            return;
        }
        // Settling is judged in whole seconds: a wake just before the second
        // turns would find nothing due.
        timer_.start(static_cast<int>(
            std::min<std::int64_t>(*wait + 1, std::numeric_limits<int>::max() / 2)));
    }

    MainInterface& watchList_;
    const std::int32_t interval_;
    std::int64_t globalAt_ = 0;
    QTimer timer_;
    QTimer replan_;
    QTimer saveTimer_;
    Subscriptions events_;
    std::set<std::string> failing_;
};

// The window's or another service's hold on the directory ends this start;
// a command-line run's is waited for. False once refused.
bool TakeDirectory(DataFileLock& lock) {
    bool told = false;
    for (;;) {
        if (lock.TryAcquire())
            return true;
        if (const auto holder = DataFileLock::ReadHolder()) {
            std::cerr << "ornbrook: " << (holder->Kind == "window" ? "the window" : "a service")
                      << " (process " << holder->Pid << ") holds " << EscapedText(ProgramDir)
                      << "\n";
            return false;
        }
        if (!told) {
            std::cerr << "ornbrook: waiting for another run of Ornbrook in "
                      << EscapedText(ProgramDir) << " to finish\n";
            told = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void StopOnSignals(QCoreApplication& app, std::function<void()> stop) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [stop = std::move(stop)] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPair[1], &byte, 1);
        stop();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace

bool WantsWatch(const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), "--watch") != args.end();
}

int RunWatch(int& argc, char** argv, const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg.starts_with("--") && arg != "--watch") {
            std::cerr << "ornbrook: --watch takes no " << EscapedText(arg)
                      << " (switches only, such as -log2)\n";
            return 2;
        }
    }
    InitConstants();
    DataFileLock lock;
    try {
        if (!TakeDirectory(lock))
            return 1;
    } catch (const std::exception& error) {
        std::cerr << "ornbrook: " << error.what() << "\n";
        return 3;
    }
    lock.WriteHolder("watch");
    QCoreApplication app(argc, argv);
    app.setApplicationName("Ornbrook");
    Unloading = false;
    DebugActive = true;
    InitDebug();
    SetLogLevel(1);
    ParseCommandLine(args);
    // -log2 and -log3 add every check and file to the events here, and the
    // program's own log in log.txt.
    try {
        CreateMainInterface();
    } catch (const std::exception& error) {
        std::cerr << "ornbrook: " << error.what() << "\n";
        return 3;
    }
    MainInterface& watchList = *TheMainInterface;
    InstallCheckPump(TheMainInterface);
    watchList.SetChecksAtOnce(watchList.Prefs().ChecksAtOnce());
    if (const std::string notice = watchList.TakeDamageNotice(); !notice.empty())
        std::cerr << "ornbrook: " << EscapedText(notice) << "\n";

    int status = 0;
    {
        Service service(watchList);
        CommandServer commands(watchList, nullptr);
        if (!commands.Listen())
            Say("no command channel: command-line runs wait until this service ends");
        StopOnSignals(app, [&app, &watchList, &status] {
            Say("stopping");
            sd_notify(0, "STOPPING=1");
            // Programs are ended; downloads stop with the watch list, their
            // partial files kept for the next run.
            watchList.StopPrograms();
            try {
                watchList.SaveIfChanged();
                watchList.FinishSaves();
            } catch (const std::exception& error) {
                std::cerr << "ornbrook: " << error.what() << "\n";
                status = 3;
            }
            app.quit();
        });
        Say("watching " + std::to_string(watchList.GetURLsCount()) + " URLs in " + ProgramDir);
        sd_notify(0, "READY=1");
        app.exec();
    }
    try {
        DestroyMainInterface();
    } catch (const std::exception& error) {
        std::cerr << "ornbrook: " << error.what() << "\n";
        status = 3;
    }
    return status;
}

} // namespace ornbrook
