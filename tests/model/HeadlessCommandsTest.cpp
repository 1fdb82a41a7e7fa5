#include "model/HeadlessCommands.h"

#include "model/DataFileFormat.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <tuple>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;

namespace {

// Exit status, standard output, standard error.
using Outcome = std::tuple<int, std::string, std::string>;

Outcome Invoke(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunHeadless(args, out, err);
    return {status, out.str(), err.str()};
}

const std::string SampleFile = [] {
    std::string file;
    AppendFrame(file, "ftp://a/", "",
                {FileEntry{}, {"old", 0}, {"new one", 1}, {"gone", 2}, {"n2", 1}});
    AppendFrame(file, "ftp://b/", "could not connect", {FileEntry{}});
    return file;
}();

const std::string ListedB = "ftp://b/\t0 new\t0 gone\t0 old\terror: could not connect\n";

} // namespace

TEST(Headless, UsageErrorsChangeNothing) {
    TempProgramDir dir;
    WriteBytes(dir.File("maindata.dat"), SampleFile);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--frobnicate"},
                                               {"--add"},
                                               {"--remove"},
                                               {"--list", "extra"},
                                               {"--check", "-log2"},
                                               {"--refresh", "--list"}}) {
        const auto [status, out, err] = Invoke(args);
        EXPECT_EQ(status, 2) << args[0];
        EXPECT_EQ(out, "");
        // One line of error, then the usage.
        EXPECT_EQ(err.rfind("ornbrook: ", 0), 0u);
        EXPECT_EQ(err.find('\n') + 1, err.find("usage: ornbrook"));
    }
    EXPECT_EQ(ReadBytes(dir.File("maindata.dat")), SampleFile);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(Headless, ListRemoveAndHelp) {
    TempProgramDir dir;
    WriteBytes(dir.File("maindata.dat"), SampleFile);
    EXPECT_EQ(Invoke({"--list"}), Outcome(0, "ftp://a/\t2 new\t1 gone\t1 old\n" + ListedB, ""));
    EXPECT_EQ(std::get<0>(Invoke({"--remove", "ftp://nowhere/"})), 1);
    EXPECT_EQ(ReadBytes(dir.File("maindata.dat")), SampleFile);

    EXPECT_EQ(std::get<0>(Invoke({"--remove", "ftp://a/"})), 0);
    EXPECT_EQ(Invoke({"--list"}), Outcome(0, ListedB, ""));
    EXPECT_EQ(Invoke({"--help"}), Outcome(0, HeadlessUsage(), ""));
}

TEST(Headless, FailuresGiveTheirOwnStatus) {
    TempProgramDir dir;
    // No host (stored before URLs were judged): the check fails at once without the network.
    std::string stored;
    AppendFrame(stored, "ftp:///nohost", "", {FileEntry{}});
    WriteBytes(dir.File("maindata.dat"), stored);
    const Outcome outcome = Invoke({"--check"});
    EXPECT_EQ(std::get<0>(outcome), 1);
    EXPECT_EQ(std::get<1>(outcome), "ftp:///nohost\ncould not connect: no host name\n\n");

    // A data file that cannot be read is reported by name.
    std::filesystem::remove(dir.File("maindata.dat"));
    std::filesystem::create_directory(dir.File("maindata.dat"));
    const auto [status, out, err] = Invoke({"--list"});
    EXPECT_EQ(status, 3);
    EXPECT_NE(err.find("maindata.dat"), std::string::npos);
}

// --add takes what the window's editor takes, and finds URLs as a user names them.
TEST(Headless, AddJudgesTheURLAndRemoveFindsItAsNamed) {
    TempProgramDir dir;
    WriteBytes(dir.File("maindata.dat"), SampleFile);
    for (const char* refused : {"foo", "ftp:///pub/", "http://a/", "ftp://anna:secret@/x/"}) {
        const auto [status, out, err] = Invoke({"--add", refused});
        EXPECT_EQ(status, 2) << refused;
        EXPECT_EQ(out, "");
        EXPECT_EQ(err.rfind("ornbrook: cannot add ", 0), 0u) << err;
        EXPECT_EQ(err.find("secret"), std::string::npos) << err;
    }
    EXPECT_EQ(ReadBytes(dir.File("maindata.dat")), SampleFile);

    // Watched already, with the scheme in capitals and no "/": nothing is added.
    EXPECT_EQ(std::get<0>(Invoke({"--add", "FTP://b"})), 1); // b's stored failure
    EXPECT_EQ(ReadBytes(dir.File("maindata.dat")), SampleFile);
    // host:port/path gets ftp:// in front (port 1: nobody listens, it fails at once).
    EXPECT_EQ(std::get<0>(Invoke({"--add", "127.0.0.1:1/pub"})), 1);
    EXPECT_EQ(std::get<1>(Invoke({"--list"})).find("ftp://127.0.0.1:1/pub\t"),
              std::string("ftp://a/\t2 new\t1 gone\t1 old\n" + ListedB).size());
    // --remove names it as the user may write it; the stored text stays as first typed.
    EXPECT_EQ(std::get<0>(Invoke({"--remove", "Ftp://A/"})), 1); // another host name
    EXPECT_EQ(std::get<0>(Invoke({"--remove", "ftp://a"})), 0);
    EXPECT_EQ(std::get<0>(Invoke({"--remove", "127.0.0.1:1/pub"})), 0);
    EXPECT_EQ(Invoke({"--list"}), Outcome(0, ListedB, ""));
}
