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

bool WaitFor(const std::function<bool()>& condition, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (condition())
            return true;
        QThread::msleep(20);
    }
    return condition();
}

// Starts the copy, waits until start-up has counted this start (the close
// request is handled from then on), closes it; returns the exit code.
int RunOnce(const std::string& exe, const std::string& dir, const QStringList& args) {
    const std::string counterFile = dir + "Ornbrook.v0.1.startcounter";
    const std::string counterBefore = ReadBytes(counterFile);
    QProcess process;
    process.setProgram(QString::fromStdString(exe));
    process.setArguments(args);
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.start();
    EXPECT_TRUE(process.waitForStarted(10000));
    const auto counted = [&] {
        const std::string now = ReadBytes(counterFile);
        return now != counterBefore && now.ends_with("\r\n") && now != "0\r\n";
    };
    EXPECT_TRUE(WaitFor(counted, 20000));
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    EXPECT_TRUE(process.waitForFinished(20000)) << process.readAllStandardError().toStdString();
    if (process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

} // namespace

TEST(Program, StartsLogsCountsAndClosesCleanly) {
    TempProgramDir dir;
    const std::string exe = dir.File("ornbrook");
    std::filesystem::copy_file(ORNBROOK_EXE, exe);

    EXPECT_EQ(RunOnce(exe, dir.Path(), {"-log2"}), 0);
    EXPECT_EQ(ReadBytes(dir.File("Ornbrook.v0.1.startcounter")), "1\r\n");
    const std::string firstLog = ReadBytes(dir.File("log.txt"));
    EXPECT_EQ(firstLog, "Programmstart\r\n"
                        "first start\r\n"
                        "LoadStandard\r\n"
                        "loading MainForm ...\r\n"
                        "loading ready\r\n"
                        "ready to show me\r\n"
                        "Start-Prozess ready\r\n"
                        "Unloading now...\r\n"
                        "Exit\r\n");

    EXPECT_EQ(RunOnce(exe, dir.Path(), {"-log2"}), 0);
    EXPECT_EQ(ReadBytes(dir.File("Ornbrook.v0.1.startcounter")), "2\r\n");
    const std::string secondLog = ReadBytes(dir.File("log.txt")).substr(firstLog.size());
    EXPECT_EQ(secondLog.find("first start"), std::string::npos);
    EXPECT_EQ(secondLog.rfind("Programmstart\r\nLoadStandard\r\n", 0), 0u);
}

TEST(Program, WithoutLogSwitchWritesNoLogFile) {
    TempProgramDir dir;
    const std::string exe = dir.File("ornbrook");
    std::filesystem::copy_file(ORNBROOK_EXE, exe);
    EXPECT_EQ(RunOnce(exe, dir.Path(), {}), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("log.txt")));
    EXPECT_EQ(ReadBytes(dir.File("Ornbrook.v0.1.startcounter")), "1\r\n");
}
