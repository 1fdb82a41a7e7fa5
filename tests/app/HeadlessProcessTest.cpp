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

Outcome Ornbrook(const std::string& exe, const QStringList& args, std::string* errors = nullptr,
                 const std::string& input = {}) {
    QProcess process;
    auto env = QProcessEnvironment::systemEnvironment();
    // No display at all: the command-line mode must not need one.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    if (!errors)
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QString::fromStdString(exe), args);
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(30000));
    if (errors)
        *errors = process.readAllStandardError().toStdString();
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
    dir.ReportAtOnce();
    const std::string exe = dir.File("ornbrook");
    std::filesystem::copy_file(ORNBROOK_EXE, exe);
    const std::string url = server.Url("/in/");
    const QString qurl = QString::fromStdString(url);

    EXPECT_EQ(Ornbrook(exe, {"--add", qurl}), Outcome(0, url + "\nok\n+ first.txt\n\n"));

    Ornbrook(exe, {"--refresh"});
    server.AddFile("in/second.txt", "2");
    server.Remove("in/first.txt");
    EXPECT_EQ(Ornbrook(exe, {"--check"}), Outcome(0, url + "\nok\n+ second.txt\n- first.txt\n\n"));
    EXPECT_EQ(Ornbrook(exe, {"--list"}),
              Outcome(0, url + "\t1 new\t0 changed\t0 arriving\t1 gone\t0 old\n"));

    // The file holds exactly one frame: URL, empty error, first.txt gone, second.txt new.
    const std::string record = Length3(url.size()) + url + Length3(0) + Length3(9) + "first.txt" +
                               std::string(1, '\2') + Length3(10) + "second.txt" +
                               std::string(1, '\1');
    EXPECT_EQ(ReadBytes(dir.File("maindata.dat")), Length3(record.size()) + record);

    EXPECT_EQ(Ornbrook(exe, {"--refresh"}).first, 0);
    EXPECT_EQ(Ornbrook(exe, {"--list"}),
              Outcome(0, url + "\t0 new\t0 changed\t0 arriving\t0 gone\t1 old\n"));
    EXPECT_EQ(Ornbrook(exe, {"--bogus"}).first, 2); // the status reaches the shell

    // The command-line mode is not a start of the program and leaves the window files alone.
    for (const char* name : {"Ornbrook.v0.1.startcounter", "MainForm.pos",
                             "MainForm_DividingLine.pos", "interval.dat", "log.txt"})
        EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
}

TEST(HeadlessProgram, PasswordsComeFromStandardInputAndAreNeverPrinted) {
    PyFtpServer server;
    server.AddFile("in/first.txt", "1");
    TempProgramDir dir;
    const std::string exe = dir.File("ornbrook");
    std::filesystem::copy_file(ORNBROOK_EXE, exe);
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    const std::string user = PyFtpServer::UserName;
    const std::string masked = "ftp://" + user + ":***@" + host + "/in/";
    std::string errors;
    const auto run = [&](const QStringList& args, const std::string& input = {}) {
        const Outcome outcome = Ornbrook(exe, args, &errors, input);
        for (const std::string& secret : {std::string("s3cret"), std::string("wrong")}) {
            EXPECT_EQ(outcome.second.find(secret), std::string::npos) << outcome.second;
            EXPECT_EQ(errors.find(secret), std::string::npos) << errors;
        }
        return outcome;
    };

    // The password is read from the first line, never given as an argument.
    const QString typed = QString::fromStdString("ftp://" + user + "@" + host + "/in/");
    EXPECT_EQ(run({"--add", typed, "--password-stdin"}, PyFtpServer::Password + std::string("\n")),
              Outcome(0, masked + "\nok\n+ first.txt\n\n"));
    // A failed login, and the listing: masked all the same.
    const Outcome failed =
        run({"--add", QString::fromStdString(server.UserUrl("/in/", user, "wrong"))});
    EXPECT_EQ(failed.first, 1);
    EXPECT_EQ(failed.second.rfind(masked + "\nlogin refused: 530", 0), 0u) << failed.second;
    EXPECT_EQ(run({"--check"}).first, 1);
    const std::size_t line2 = masked.size() + 1;
    const std::string error = failed.second.substr(line2, failed.second.find('\n', line2) - line2);
    EXPECT_EQ(run({"--list"}).second,
              masked + "\t1 new\t0 changed\t0 arriving\t0 gone\t0 old\n" + masked +
                  "\t0 new\t0 changed\t0 arriving\t0 gone\t0 old\terror: " + error + "\n");
    // Both show alike: the masked form names neither, a position does.
    EXPECT_EQ(run({"--remove", QString::fromStdString(masked)}).first, 2);
    EXPECT_NE(errors.find("positions 1, 2"), std::string::npos) << errors;
    EXPECT_EQ(run({"--remove", "2"}).first, 0);
    EXPECT_EQ(run({"--check"}), Outcome(0, masked + "\nok\n+ first.txt\n\n"));
}
