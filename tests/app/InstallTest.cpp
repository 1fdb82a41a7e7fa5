// The install: into a temporary prefix, with desktop file and AppStream
// metainfo that the desktop's own validators accept, and a program that, run
// from the installed (read-only) prefix, keeps its files in the user's data
// directory, while a copied one keeps them beside itself.
#include "tests/support/TempProgramDir.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sys/stat.h>

using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;

namespace fs = std::filesystem;

namespace {

const std::string AppId = ORNBROOK_APP_ID;

struct Outcome {
    int status = -1;
    std::string out;
};

Outcome Start(const std::string& program, const QStringList& args,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString(program), args);
    EXPECT_TRUE(process.waitForFinished(60000)) << program;
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAll().toStdString()};
}

std::set<std::string> FilesUnder(const std::string& dir) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        files.insert(fs::relative(entry.path(), dir).string());
    return files;
}

unsigned Mode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The first value of key= in a desktop file's text.
std::string DesktopValue(const std::string& text, const std::string& key) {
    const auto match = QRegularExpression("^" + QString::fromStdString(key) + "=(.*)$",
                                          QRegularExpression::MultilineOption)
                           .match(QString::fromStdString(text));
    return match.captured(1).toStdString();
}

TEST(Install, IntoAPrefixValidAndUsingTheUsersDataDirectory) {
    TempProgramDir tmp;
    const std::string prefix = tmp.File("prefix");
    const Outcome install = Start(CMAKE_COMMAND, {"--install", ORNBROOK_BUILD_DIR, "--prefix",
                                                  QString::fromStdString(prefix)});
    ASSERT_EQ(install.status, 0) << install.out;

    const std::string exe = prefix + "/bin/ornbrook";
    const std::string desktop = prefix + "/share/applications/" + AppId + ".desktop";
    const std::string metainfo = prefix + "/share/metainfo/" + AppId + ".metainfo.xml";
    const std::string icon = prefix + "/share/icons/hicolor/scalable/apps/" + AppId + ".svg";
    for (const std::string& file : {exe, desktop, metainfo, icon})
        ASSERT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_TRUE(fs::is_regular_file(prefix + "/share/ornbrook/installed"));

    // Validators of the desktop (Debian packages desktop-file-utils, appstream):
    // no error and not a word of warning.
    EXPECT_EQ(Start("desktop-file-validate", {QString::fromStdString(desktop)}).out, "");
    const Outcome appstream = Start(
        "appstreamcli", {"validate", "--no-net", "--pedantic", QString::fromStdString(metainfo)});
    EXPECT_EQ(appstream.status, 0) << appstream.out;
    EXPECT_EQ(appstream.out.find("W:"), std::string::npos) << appstream.out;
    // They name each other, the icon and the program as installed.
    const std::string entry = ReadBytes(desktop);
    EXPECT_EQ(DesktopValue(entry, "Icon"), AppId);
    const std::string component = ReadBytes(metainfo);
    EXPECT_NE(component.find("<id>" + AppId + "</id>"), std::string::npos);
    EXPECT_NE(component.find(">" + AppId + ".desktop</launchable>"), std::string::npos);

    // Run from a read-only prefix: the files go to $XDG_DATA_HOME/ornbrook,
    // made owner-only, and nothing is written beside the program.
    const auto installed = FilesUnder(prefix);
    ASSERT_EQ(Start("chmod", {"-R", "a-w", QString::fromStdString(prefix)}).status, 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(tmp.File("home")));
    env.insert("XDG_DATA_HOME", QString::fromStdString(tmp.File("data")));
    const QString url = "ftp://127.0.0.1:1/in/"; // refused at once: the check fails
    EXPECT_EQ(Start(exe, {"--add", url}, env).status, 1);
    const Outcome list = Start(exe, {"--list"}, env);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.rfind(
                  url.toStdString() + "\t0 new\t0 changed\t0 arriving\t0 gone\t0 old\terror: ", 0),
              0u)
        << list.out;
    EXPECT_EQ(Mode(tmp.File("data/ornbrook")), 0700u);
    EXPECT_TRUE(fs::is_regular_file(tmp.File("data/ornbrook/maindata.dat")));
    EXPECT_EQ(FilesUnder(prefix), installed);

    Start("chmod", {"-R", "u+w", QString::fromStdString(prefix)});

    // A copy in a folder of its own, even one named bin, keeps its files beside itself.
    fs::create_directories(tmp.File("copy/bin"));
    const std::string copy = tmp.File("copy/bin/ornbrook");
    fs::copy_file(exe, copy);
    EXPECT_EQ(Start(copy, {"--add", url}, env).status, 1);
    EXPECT_TRUE(fs::is_regular_file(tmp.File("copy/bin/maindata.dat")));
}

} // namespace
