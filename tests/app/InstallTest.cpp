// The install: into a temporary prefix, with desktop file and AppStream
// metainfo that the desktop's own validators accept, and a program that, run
// from the installed (read-only) prefix, keeps its files in the user's data
// directory, while a copied one keeps them beside itself. The systemd user
// unit, manual page and bash completion it adds, and the Debian package made
// of the same install (`make deb`). Tools that CI may lack (systemd-analyze,
// lintian) skip their part with a message.
#include "tests/support/TempProgramDir.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
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
    EXPECT_TRUE(process.waitForFinished(180000)) << program;
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

bool Found(const char* tool) {
    return !QStandardPaths::findExecutable(tool).isEmpty();
}

// Every match of pattern's first group in text.
std::set<std::string> Matches(const std::string& text, const char* pattern) {
    std::set<std::string> found;
    auto it = QRegularExpression(pattern).globalMatch(QString::fromStdString(text));
    while (it.hasNext())
        found.insert(it.next().captured(1).toStdString());
    return found;
}

// Whether text holds word whole, not as part of a longer switch or name
// ("KEY=" may run on into its value).
bool Names(const std::string& text, const std::string& word) {
    const auto part = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
    };
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const auto after = at + word.size();
        if ((at == 0 || !part(text[at - 1])) &&
            (word.back() == '=' || after == text.size() || !part(text[after])))
            return true;
    }
    return false;
}

class Install : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = std::make_unique<TempProgramDir>();
        install_ = Start(CMAKE_COMMAND, {"--install", ORNBROOK_BUILD_DIR, "--prefix",
                                         QString::fromStdString(Prefix(""))});
    }
    static void TearDownTestSuite() { dir_.reset(); }
    void SetUp() override { ASSERT_EQ(install_.status, 0) << install_.out; }

    static std::string File(const std::string& name) { return dir_->File(name); }
    static std::string Prefix(const std::string& name) { return dir_->File("prefix/" + name); }

    static inline std::unique_ptr<TempProgramDir> dir_;
    static inline Outcome install_;
};

TEST_F(Install, IntoAPrefixValidAndUsingTheUsersDataDirectory) {
    const std::string exe = Prefix("bin/ornbrook");
    const std::string desktop = Prefix("share/applications/" + AppId + ".desktop");
    const std::string metainfo = Prefix("share/metainfo/" + AppId + ".metainfo.xml");
    const std::string icon = Prefix("share/icons/hicolor/scalable/apps/" + AppId + ".svg");
    for (const std::string& file :
         {exe, desktop, metainfo, icon, Prefix("share/man/man1/ornbrook.1.gz"),
          Prefix("share/bash-completion/completions/ornbrook"),
          Prefix("share/systemd/user/ornbrook.service"), Prefix("share/ornbrook/installed")})
        ASSERT_TRUE(fs::is_regular_file(file)) << file;

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
    const std::string prefix = Prefix("");
    const auto installed = FilesUnder(prefix);
    ASSERT_EQ(Start("chmod", {"-R", "a-w", QString::fromStdString(prefix)}).status, 0);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(File("home")));
    env.insert("XDG_DATA_HOME", QString::fromStdString(File("data")));
    const QString url = "ftp://127.0.0.1:1/in/"; // refused at once: the check fails
    EXPECT_EQ(Start(exe, {"--add", url}, env).status, 1);
    const Outcome list = Start(exe, {"--list"}, env);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out.rfind(
                  url.toStdString() + "\t0 new\t0 changed\t0 arriving\t0 gone\t0 old\terror: ", 0),
              0u)
        << list.out;
    EXPECT_EQ(Mode(File("data/ornbrook")), 0700u);
    EXPECT_TRUE(fs::is_regular_file(File("data/ornbrook/maindata.dat")));
    EXPECT_EQ(FilesUnder(prefix), installed);

    Start("chmod", {"-R", "u+w", QString::fromStdString(prefix)});

    // A copy in a folder of its own, even one named bin, keeps its files beside itself.
    fs::create_directories(File("copy/bin"));
    const std::string copy = File("copy/bin/ornbrook");
    fs::copy_file(exe, copy);
    EXPECT_EQ(Start(copy, {"--add", url}, env).status, 1);
    EXPECT_TRUE(fs::is_regular_file(File("copy/bin/maindata.dat")));
}

// The user unit starts the installed program's service, and the service
// manager finds nothing to object to, its manual page included.
TEST_F(Install, UserUnitRunsTheInstalledService) {
    const std::string unit = Prefix("share/systemd/user/ornbrook.service");
    const std::string text = ReadBytes(unit);
    EXPECT_EQ(DesktopValue(text, "ExecStart"), Prefix("bin/ornbrook") + " --watch");
    EXPECT_EQ(DesktopValue(text, "Type"), "notify");
    if (!Found("systemd-analyze")) {
        GTEST_SKIP() << "systemd-analyze is not installed: the unit is not verified";
    }
    fs::create_directories(File("run"));
    fs::permissions(File("run"), fs::perms::owner_all);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(File("run")));
    env.insert("MANPATH", QString::fromStdString(Prefix("share/man")));
    const Outcome verify = Start(
        "systemd-analyze",
        {"--user", Found("man") ? "--man=yes" : "--man=no", "verify", QString::fromStdString(unit)},
        env);
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(verify.out, "");
}

// The manual page renders without a warning, and it and the completion name
// every switch, command and setting key that --help names.
TEST_F(Install, ManualPageAndCompletionNameEverythingOfHelp) {
    const std::string help = Start(Prefix("bin/ornbrook"), {"--help"}).out;
    const auto commands = Matches(help, R"((?:^|[\s\[|,])(--?[a-z][a-z0-9-]*))");
    const auto keys = Matches(help, R"(\b([a-z]+)=)");
    ASSERT_TRUE(commands.count("--check") && commands.count("-log2") && keys.count("depth"))
        << help;

    // The completion, as bash calls it: the words so far, the last one being completed.
    const auto complete = [&](QStringList words) {
        words.prepend("ornbrook");
        const std::string script = "source \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
                                   "_ornbrook; printf '%s\\n' \"${COMPREPLY[@]}\"";
        words.prepend(QString::fromStdString(Prefix("share/bash-completion/completions/ornbrook")));
        words.prepend(QString::fromStdString(script));
        words.prepend("-c");
        return Start("bash", words).out;
    };
    const std::string first = complete({""});
    // Switches that only follow their command are completed after it.
    for (const std::string& command : commands)
        EXPECT_TRUE(command == "--password-stdin" || command == "--since" || Names(first, command))
            << command << " not completed:\n"
            << first;
    const std::string settings = complete({"--set", "1", ""});
    for (const std::string& key : keys)
        EXPECT_TRUE(Names(settings, key + "=")) << key << " not completed:\n" << settings;
    EXPECT_EQ(complete({"--set", "1", "paused="}), "paused=0\npaused=1\n");

    if (!Found("groff")) {
        GTEST_SKIP() << "groff is not installed: the manual page is not rendered";
    }
    // A plain "-" shown as the hyphen it is (Debian shows it as "\-"), so that a
    // switch written with one is not found, as a reader who copies it would not.
    const QString render = "{ echo '.tr -\\[u2010]'; gzip -dc \"$0\"; } | "
                           "groff -t -man -Tutf8 -ww -P-cbou ";
    const QString page = QString::fromStdString(Prefix("share/man/man1/ornbrook.1.gz"));
    EXPECT_EQ(Start("sh", {"-c", render + "-z", page}).out, "");
    const std::string text = Start("sh", {"-c", render, page}).out;
    for (const std::string& command : commands)
        EXPECT_TRUE(Names(text, command)) << command << " not in the manual page";
    for (const std::string& key : keys)
        EXPECT_TRUE(Names(text, key + "=")) << key << " not in the manual page";
}

// `make deb` in short: CPack's package of this build's own install (a second
// build would double the time of the tests), and what lintian says of it.
TEST(Package, HoldsTheInstallUnderUsrWithItsLibrariesAsDependencies) {
    if (!Found("dpkg-shlibdeps")) {
        GTEST_SKIP() << "dpkg-dev is not installed: no package is made";
    }
    TempProgramDir tmp;
    const Outcome made = Start(
        CPACK_COMMAND, {"-G", "DEB", "-B", QString::fromStdString(tmp.File("out")), "--config",
                        QStringLiteral(ORNBROOK_BUILD_DIR) + "/CPackConfig.cmake"});
    ASSERT_EQ(made.status, 0) << made.out;
    QString deb;
    for (const auto& entry : fs::directory_iterator(tmp.File("out")))
        if (entry.path().extension() == ".deb")
            deb = QString::fromStdString(entry.path().string());
    ASSERT_FALSE(deb.isEmpty()) << made.out;

    std::set<std::string> files;
    std::istringstream listing(Start("dpkg-deb", {"--contents", deb}).out);
    for (std::string line; std::getline(listing, line);) {
        EXPECT_NE(line.find(" root/root "), std::string::npos) << line;
        if (!line.ends_with("/"))
            files.insert(line.substr(line.rfind(' ') + 1));
    }
    const std::set<std::string> expected = {"./usr/bin/ornbrook",
                                            "./usr/lib/systemd/user/ornbrook.service",
                                            "./usr/share/applications/" + AppId + ".desktop",
                                            "./usr/share/bash-completion/completions/ornbrook",
                                            "./usr/share/doc/ornbrook/changelog.gz",
                                            "./usr/share/doc/ornbrook/copyright",
                                            "./usr/share/icons/hicolor/scalable/apps/" + AppId +
                                                ".svg",
                                            "./usr/share/man/man1/ornbrook.1.gz",
                                            "./usr/share/metainfo/" + AppId + ".metainfo.xml",
                                            "./usr/share/ornbrook/installed"};
    EXPECT_EQ(files, expected);
    // dpkg-shlibdeps found the libraries the program links.
    const std::string depends = Start("dpkg-deb", {"--field", deb, "Depends"}).out;
    for (const char* library : {"libc6", "libqt6widgets6", "libssl3", "libssh-4", "libsqlite3-0"})
        EXPECT_TRUE(Names(depends, library)) << depends;
    // The unit names the program where the package puts it.
    ASSERT_EQ(
        Start("dpkg-deb", {"--extract", deb, QString::fromStdString(tmp.File("root"))}).status, 0);
    EXPECT_EQ(DesktopValue(ReadBytes(tmp.File("root/usr/lib/systemd/user/ornbrook.service")),
                           "ExecStart"),
              "/usr/bin/ornbrook --watch");

    if (!Found("lintian")) {
        GTEST_SKIP() << "lintian is not installed (too large for CI): the package is not linted";
    }
    const Outcome lint = Start("lintian", {deb}); // fails on errors, not on warnings
    EXPECT_EQ(lint.status, 0) << lint.out;
}

} // namespace
