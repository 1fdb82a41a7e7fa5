// Runs the built program as a user would: a copy in an empty directory,
// offscreen, closed through SIGTERM, which closes the main window.
#include "tests/support/TempProgramDir.h"

#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

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
