// The command-line mode end to end: the built program, copied into an empty
// directory, run as a script would run it against a real FTP server.
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/TempProgramDir.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

using ornbrook::test::PyFtpServer;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;

namespace {

using Outcome = std::pair<int, std::string>; // exit status, standard output

Outcome Ornbrook(const std::string& exe, const QStringList& args) {
    QProcess process;
    auto env = QProcessEnvironment::systemEnvironment();
    // No display at all: the command-line mode must not need one.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QString::fromStdString(exe), args);
    EXPECT_TRUE(process.waitForFinished(30000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString()};
}

std::string Length3(std::size_t n) {
    return {static_cast<char>(n & 0xFF), static_cast<char>((n >> 8) & 0xFF),
            static_cast<char>((n >> 16) & 0xFF)};
}

} // namespace

TEST(HeadlessProgram, AddCheckRefreshListEndToEnd) {
    PyFtpServer server;
    server.AddFile("in/first.txt", "1");
    TempProgramDir dir;
    const std::string exe = dir.File("ornbrook");
    std::filesystem::copy_file(ORNBROOK_EXE, exe);
    const std::string url = server.Url("/in/");
    const QString qurl = QString::fromStdString(url);

    EXPECT_EQ(Ornbrook(exe, {"--add", qurl}), Outcome(0, url + "\nok\n+ first.txt\n\n"));

    Ornbrook(exe, {"--refresh"});
    server.AddFile("in/second.txt", "2");
    server.Remove("in/first.txt");
    EXPECT_EQ(Ornbrook(exe, {"--check"}), Outcome(0, url + "\nok\n+ second.txt\n- first.txt\n\n"));
    EXPECT_EQ(Ornbrook(exe, {"--list"}), Outcome(0, url + "\t1 new\t1 gone\t0 old\n"));

    // The file holds exactly one frame: URL, empty error, first.txt gone, second.txt new.
    const std::string record = Length3(url.size()) + url + Length3(0) + Length3(9) + "first.txt" +
                               std::string(1, '\2') + Length3(10) + "second.txt" +
                               std::string(1, '\1');
    EXPECT_EQ(ReadBytes(dir.File("maindata.dat")), Length3(record.size()) + record);

    EXPECT_EQ(Ornbrook(exe, {"--refresh"}).first, 0);
    EXPECT_EQ(Ornbrook(exe, {"--list"}), Outcome(0, url + "\t0 new\t0 gone\t1 old\n"));
    EXPECT_EQ(Ornbrook(exe, {"--bogus"}).first, 2); // the status reaches the shell

    // The command-line mode is not a start of the program and leaves the window files alone.
    for (const char* name : {"Ornbrook.v0.1.startcounter", "MainForm.pos",
                             "MainForm_DividingLine.pos", "interval.dat", "log.txt"})
        EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
}
