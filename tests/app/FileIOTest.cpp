#include "app/FileIO_Code.h"

#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;

TEST(FileIO, WriteTextEndsEveryTextWithCrLf) {
    TempProgramDir dir;
    WriteText(dir.File("a"), "");
    EXPECT_EQ(ReadBytes(dir.File("a")), "\r\n");
    WriteText(dir.File("a"), " 300");
    EXPECT_EQ(ReadBytes(dir.File("a")), " 300\r\n");
}

TEST(FileIO, ReadFirstLineCases) {
    TempProgramDir dir;
    const struct {
        const char* content; // nullptr: no file
        const char* defaultText;
        const char* line;
        const char* contentAfter;
    } rows[] = {
        {nullptr, "0", "0", "0\r\n"},
        {nullptr, "", "", "\r\n"},
        {"", "0", "", ""},
        {"first\r\nsecond\r\n", "x", "first", "first\r\nsecond\r\n"},
        {"no break", "x", "no break", "no break"},
        {"lf only\nsecond", "x", "lf only", "lf only\nsecond"},
        {"\r\n", "x", "", "\r\n"},
        {"caf\xe9 \xc3\xa4\r\n", "x", "caf\xe9 \xc3\xa4", "caf\xe9 \xc3\xa4\r\n"},
    };
    for (const auto& row : rows) {
        const std::string file = dir.File("settings.dat");
        DeleteFileIfExists(file);
        if (row.content)
            WriteBytes(file, row.content);
        EXPECT_EQ(ReadFirstLine(file, row.defaultText), row.line);
        EXPECT_EQ(ReadBytes(file), row.contentAfter);
    }
}

TEST(FileIO, EnsureAndCreateEmpty) {
    TempProgramDir dir;
    const std::string hidden = dir.File(".hidden");
    WriteBytes(hidden, "keep");
    EnsureFileExists(hidden);
    EXPECT_EQ(ReadBytes(hidden), "keep");
    EnsureFileExists(dir.File("new"));
    EXPECT_TRUE(FileExists(dir.File("new")));
    EXPECT_EQ(ReadBytes(dir.File("new")), "");
    CreateEmptyFile(hidden);
    EXPECT_EQ(ReadBytes(hidden), "");
}

TEST(FileIO, DeleteByNameAndPattern) {
    TempProgramDir dir;
    EXPECT_NO_THROW(DeleteFileIfExists(dir.File("missing")));
    EXPECT_NO_THROW(DeleteFileIfExists(dir.File("debugfile.prozessinfo.*")));
    for (const char* name :
         {"debugfile.prozessinfo.0", "debugfile.prozessinfo.12", "debugfile.prozesse", "other"})
        WriteBytes(dir.File(name), "x");
    DeleteFileIfExists(dir.File("debugfile.prozessinfo.*"));
    EXPECT_FALSE(FileExists(dir.File("debugfile.prozessinfo.0")));
    EXPECT_FALSE(FileExists(dir.File("debugfile.prozessinfo.12")));
    EXPECT_TRUE(FileExists(dir.File("debugfile.prozesse")));
    EXPECT_TRUE(FileExists(dir.File("other")));
    DeleteFileIfExists(dir.File("other"));
    EXPECT_FALSE(FileExists(dir.File("other")));
}

TEST(FileIO, PatternOnlyInTheLastComponent) {
    TempProgramDir dir;
    // A directory whose name holds wildcard characters is taken literally.
    const std::string odd = dir.File("a[1]*/");
    std::filesystem::create_directory(odd);
    WriteBytes(odd + "debugfile.prozessinfo.3", "x");
    WriteBytes(dir.File("debugfile.prozessinfo.4"), "x");
    DeleteFileIfExists(odd + "debugfile.prozessinfo.*");
    EXPECT_FALSE(FileExists(odd + "debugfile.prozessinfo.3"));
    EXPECT_TRUE(FileExists(dir.File("debugfile.prozessinfo.4")));
}

TEST(FileIO, FailuresNameTheFile) {
    TempProgramDir dir;
    const std::string inMissingDir = dir.File("no/such/dir/file.txt");
    try {
        WriteText(inMissingDir, "x");
        FAIL() << "no error";
    } catch (const FileError& error) {
        EXPECT_EQ(error.FileName(), inMissingDir);
        EXPECT_NE(std::string(error.what()).find(inMissingDir), std::string::npos);
    }
    EXPECT_THROW(ReadFirstLine(inMissingDir, "0"), FileError);
    EXPECT_THROW(CreateEmptyFile(inMissingDir), FileError);
    // A directory in the way is not a file: reading it fails loudly.
    std::filesystem::create_directory(dir.File("adir"));
    EXPECT_THROW(ReadFirstLine(dir.File("adir"), "0"), FileError);
}

TEST(FileIO, FullDiskIsReportedNotSwallowed) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    EXPECT_THROW(WriteText("/dev/full", "x"), FileError);
}
