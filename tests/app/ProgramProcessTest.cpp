// Runs the built program as a user would: a copy in an empty directory,
// offscreen, closed through SIGTERM, which closes the main window.
#include "tests/support/TempProgramDir.h"

#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;

namespace {

// Starts the copy, waits until start-up has counted this start (the close
// request is handled from then on), closes it; returns the exit code.
int RunOnce(const TempProgramDir& dir, const QStringList& args) {
    const std::string counterFile = dir.File("Ornbrook.v0.1.startcounter");
    const std::string before = ReadBytes(counterFile);
    QProcess process;
    process.start(QString::fromStdString(dir.File("ornbrook")), args);
    EXPECT_TRUE(process.waitForStarted(10000));
    for (int waited = 0; waited < 20000; waited += 20) {
        const std::string now = ReadBytes(counterFile);
        if (now != before && now.ends_with("\r\n") && now != "0\r\n")
            break;
        QThread::msleep(20);
    }
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    EXPECT_TRUE(process.waitForFinished(20000)) << process.readAllStandardError().toStdString();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace

TEST(Program, StartsLogsCountsAndClosesCleanly) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TempProgramDir dir;
    std::filesystem::copy_file(ORNBROOK_EXE, dir.File("ornbrook"));
    const std::string counter = dir.File("Ornbrook.v0.1.startcounter");
    const std::string start = "Programmstart\r\n";
    const std::string rest =
        "LoadStandard\r\nloading MainForm ...\r\nloading ready\r\n"
        "ready to show me\r\nStart-Prozess ready\r\nUnloading now...\r\nExit\r\n";

    EXPECT_EQ(RunOnce(dir, {"-log2"}), 0);
    EXPECT_EQ(ReadBytes(counter), "1\r\n");
    EXPECT_EQ(ReadBytes(dir.File("log.txt")), start + "first start\r\n" + rest);

    EXPECT_EQ(RunOnce(dir, {"-log2"}), 0);
    EXPECT_EQ(ReadBytes(counter), "2\r\n");
    const std::string bothLogs = start + "first start\r\n" + rest + start + rest;
    EXPECT_EQ(ReadBytes(dir.File("log.txt")), bothLogs);

    EXPECT_EQ(RunOnce(dir, {}), 0); // without the switch nothing is logged
    EXPECT_EQ(ReadBytes(counter), "3\r\n");
    EXPECT_EQ(ReadBytes(dir.File("log.txt")), bothLogs);
}

// Help and unknown options are answered at once, with or without a display,
// while another run holds the program directory (a running window would be
// asked to come to the front; these never ask), and leave no file behind.
TEST(Program, HelpAndUnknownOptionsAnswerWithoutTouchingAnything) {
    TempProgramDir dir;
    std::filesystem::copy_file(ORNBROOK_EXE, dir.File("ornbrook"));
    const int lock = ::open(dir.File("maindata.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    const struct {
        QStringList args;
        int status;
        bool onStdout;
    } rows[] = {
        {{"-h"}, 0, true},
        {{"--help"}, 0, true},
        {{"/?"}, 0, true},
        {{"-log2", "\\Help"}, 0, true},
        {{"--frobnicate"}, 2, false},
        {{"--list", "-x"}, 2, false},
    };
    for (const bool display : {false, true}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(row.args.join(' ').toStdString() + (display ? " (offscreen)" : ""));
            QProcess process;
            auto env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            if (display)
                env.insert("QT_QPA_PLATFORM", "offscreen");
            else
                env.remove("QT_QPA_PLATFORM");
            process.setProcessEnvironment(env);
            process.start(QString::fromStdString(dir.File("ornbrook")), row.args);
            ASSERT_TRUE(process.waitForFinished(20000));
            EXPECT_EQ(process.exitCode(), row.status);
            const QString out = process.readAllStandardOutput();
            const QString err = process.readAllStandardError();
            const QString usage = row.onStdout ? out : err;
            EXPECT_TRUE(usage.contains("usage: ornbrook [-debug] [-log2|-log3]"))
                << usage.toStdString();
            EXPECT_TRUE(usage.contains("--add URL"));
            EXPECT_TRUE((row.onStdout ? err : out).isEmpty());
        }
    }
    ::close(lock);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, std::vector<std::string>({"maindata.lock", "ornbrook"}));
}
