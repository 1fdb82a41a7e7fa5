#include "model/HeadlessCommands.h"

#include "model/DataFileFormat.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome Invoke(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = RunHeadless(args, out, err);
    return {status, out.str(), err.str()};
}

std::string SampleFile() {
    std::string file;
    std::vector<FileEntry> a{FileEntry{}, {"old", 0}, {"new one", 1}, {"gone", 2}, {"n2", 1}};
    std::vector<FileEntry> b{FileEntry{}};
    AppendFrame(file, "ftp://a/", "", a);
    AppendFrame(file, "ftp://b/", "could not connect", b);
    return file;
}

} // namespace

TEST(Headless, UsageErrorsChangeNothing) {
    TempProgramDir dir;
    WriteBytes(dir.File("maindata.dat"), SampleFile());
    const std::vector<std::vector<std::string>> bad = {
        {"--frobnicate"},        {"--add"}, {"--remove"}, {"--list", "extra"}, {"--check", "-log2"},
        {"--refresh", "--list"},
    };
    for (const auto& args : bad) {
        const Outcome outcome = Invoke(args);
        EXPECT_EQ(outcome.status, 2) << args[0];
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err.rfind("ornbrook: ", 0), 0u);
        EXPECT_NE(outcome.err.find("usage: ornbrook"), std::string::npos);
        // One line of error, then the usage.
        EXPECT_EQ(outcome.err.find('\n') + 1, outcome.err.find("usage: "));
    }
    EXPECT_EQ(ReadBytes(dir.File("maindata.dat")), SampleFile());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(Headless, ListRefreshRemoveAndHelp) {
    TempProgramDir dir;
    WriteBytes(dir.File("maindata.dat"), SampleFile());

    Outcome list = Invoke({"--list"});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, "ftp://a/\t2 new\t1 gone\t1 old\n"
                        "ftp://b/\t0 new\t0 gone\t0 old\terror: could not connect\n");

    EXPECT_EQ(Invoke({"--remove", "ftp://nowhere/"}).status, 1);
    EXPECT_EQ(ReadBytes(dir.File("maindata.dat")), SampleFile());

    EXPECT_EQ(Invoke({"--refresh"}).status, 0);
    EXPECT_EQ(Invoke({"--list"}).out, "ftp://a/\t0 new\t0 gone\t3 old\n"
                                      "ftp://b/\t0 new\t0 gone\t0 old\terror: could not connect\n");
    EXPECT_EQ(Invoke({"--remove", "ftp://a/"}).status, 0);
    EXPECT_EQ(Invoke({"--list"}).out, "ftp://b/\t0 new\t0 gone\t0 old\terror: could not connect\n");

    const Outcome help = Invoke({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, HeadlessUsage());
}

TEST(Headless, FailedChecksGiveStatusOne) {
    TempProgramDir dir;
    // No host: the check fails at once without the network.
    const Outcome add = Invoke({"--add", "ftp:///nohost"});
    EXPECT_EQ(add.status, 1);
    EXPECT_EQ(add.out, "ftp:///nohost\ncould not connect\n\n");
    const Outcome check = Invoke({"--check"});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, "ftp:///nohost\ncould not connect\n\n");
}

TEST(Headless, UnreadableDataFileIsReported) {
    TempProgramDir dir;
    std::filesystem::create_directory(dir.File("maindata.dat"));
    const Outcome list = Invoke({"--list"});
    EXPECT_EQ(list.status, 3);
    EXPECT_NE(list.err.find("maindata.dat"), std::string::npos);
}
