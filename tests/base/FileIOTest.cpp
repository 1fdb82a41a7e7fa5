#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"

#include "tests/support/TempProgramDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;

namespace {

unsigned Mode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

TEST(FileIO, WriteTextAndReadFirstLine) {
    TempProgramDir dir;
    const std::string file = dir.File("settings.dat");
    WriteText(file, " 300");
    EXPECT_EQ(ReadBytes(file), " 300\r\n");
    // content before (nullptr: no file), default text, line read, content after
    const std::tuple<const char*, const char*, const char*, const char*> rows[] = {
        {nullptr, "0", "0", "0\r\n"},
        {nullptr, "", "", "\r\n"},
        {"", "0", "", ""},
        {"first\r\nsecond\r\n", "x", "first", "first\r\nsecond\r\n"},
        {"no break", "x", "no break", "no break"},
        {"lf only\nsecond", "x", "lf only", "lf only\nsecond"},
        {"\r\n", "x", "", "\r\n"},
        {"caf\xe9 \xc3\xa4\r\n", "x", "caf\xe9 \xc3\xa4", "caf\xe9 \xc3\xa4\r\n"},
    };
    for (const auto& [before, defaultText, line, after] : rows) {
        DeleteFileIfExists(file);
        if (before)
            WriteBytes(file, before);
        EXPECT_EQ(ReadFirstLine(file, defaultText), line);
        EXPECT_EQ(ReadBytes(file), after);
    }
}

TEST(FileIO, EnsureCreateAndDelete) {
    TempProgramDir dir;
    const std::string hidden = dir.File(".hidden");
    WriteBytes(hidden, "keep");
    EnsureFileExists(hidden);
    EXPECT_EQ(ReadBytes(hidden), "keep");
    CreateEmptyFile(hidden);
    EXPECT_EQ(ReadBytes(hidden), "");
    EnsureFileExists(dir.File("new"));
    EXPECT_TRUE(FileExists(dir.File("new")));

    // A pattern only in the last part: a directory named with wildcards is literal.
    EXPECT_NO_THROW(DeleteFileIfExists(dir.File("missing")));
    const std::string odd = dir.File("a[1]*/");
    std::filesystem::create_directory(odd);
    for (const char* name : {"debugfile.prozessinfo.0", "debugfile.prozessinfo.12",
                             "debugfile.prozesse", "a[1]*/debugfile.prozessinfo.3"})
        WriteBytes(dir.File(name), "x");
    DeleteFileIfExists(dir.File("debugfile.prozessinfo.*"));
    DeleteFileIfExists(odd + "debugfile.prozessinfo.*");
    DeleteFileIfExists(dir.File("new"));
    for (const char* name : {"debugfile.prozessinfo.0", "debugfile.prozessinfo.12", "new",
                             "a[1]*/debugfile.prozessinfo.3"})
        EXPECT_FALSE(FileExists(dir.File(name))) << name;
    EXPECT_TRUE(FileExists(dir.File("debugfile.prozesse")));
}

TEST(FileIO, FailuresNameTheFile) {
    TempProgramDir dir;
    const std::string inMissingDir = dir.File("no/such/dir/file.txt");
    EXPECT_THAT([&] { WriteText(inMissingDir, "x"); },
                testing::ThrowsMessage<FileError>(testing::HasSubstr(inMissingDir)));
    EXPECT_THROW(ReadFirstLine(inMissingDir, "0"), FileError);
    EXPECT_THROW(CreateEmptyFile(inMissingDir), FileError);
    std::filesystem::create_directory(dir.File("adir")); // not a file: reading fails loudly
    EXPECT_THROW(ReadFirstLine(dir.File("adir"), "0"), FileError);
    if (std::filesystem::exists("/dev/full")) { // a full disk is reported, not swallowed
        EXPECT_THROW(WriteText("/dev/full", "x"), FileError);
    }
}

// Where an installed program keeps its files, and how that directory is made.
TEST(ProgramDir, UserDataDirectoryFollowsTheXdgRules) {
    // XDG_DATA_HOME (nullptr: unset), HOME, directory
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"/data", "/home/anna", "/data/ornbrook/"},
        {"/data/", "/home/anna", "/data/ornbrook/"},
        {nullptr, "/home/anna", "/home/anna/.local/share/ornbrook/"},
        {"", "/home/anna/", "/home/anna/.local/share/ornbrook/"},
        // A relative path is not valid there and is ignored.
        {"data", "/home/anna", "/home/anna/.local/share/ornbrook/"},
    };
    for (const auto& [xdg, home, expected] : rows)
        EXPECT_EQ(UserDataDirectory(xdg, home), expected) << (xdg ? xdg : "(unset)");
    // Without HOME the password entry still names a home.
    EXPECT_TRUE(UserDataDirectory(nullptr, nullptr).ends_with("/.local/share/ornbrook/"));
    EXPECT_NE(UserDataDirectory(nullptr, nullptr)[0], '.');
}

TEST(ProgramDir, DataDirectoryIsMadeOwnerOnly) {
    TempProgramDir dir;
    const std::string data = dir.File("share/deeper/ornbrook/");
    ASSERT_TRUE(MakeOwnerOnlyDirectory(data));
    for (const char* made : {"share", "share/deeper", "share/deeper/ornbrook"})
        EXPECT_EQ(Mode(dir.File(made)), 0700u) << made;
    // One that exists is the user's choice and stays as it is.
    ASSERT_EQ(::chmod(data.c_str(), 0750), 0);
    EXPECT_TRUE(MakeOwnerOnlyDirectory(data));
    EXPECT_EQ(Mode(data), 0750u);
    // A file in the way is not a directory.
    test::WriteBytes(dir.File("file"), "x");
    EXPECT_FALSE(MakeOwnerOnlyDirectory(dir.File("file/ornbrook/")));
}
