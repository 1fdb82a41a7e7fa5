#include "app/FileIO_Code.h"
#include "app/Startup.h"
#include "diag/Debug_Modul.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;

namespace {

struct Switches {
    bool debugFile;
    bool prozessInfo;
    std::int16_t level;
};

Switches Parse(const std::vector<std::string>& args) {
    InitDebug();
    SetLogLevel(1);
    ParseCommandLine(args);
    return {DebugFileOn(), ProzessInfoOn(), LogLevel()};
}

} // namespace

TEST(CommandLine, Switches) {
    TempProgramDir dir;
    const struct {
        std::vector<std::string> args;
        Switches expected;
    } rows[] = {
        {{}, {false, false, 1}},
        {{"-log2"}, {false, false, 2}},
        {{"/log2"}, {false, false, 2}},
        {{"LOG2"}, {false, false, 2}},
        {{"\\Log3"}, {false, false, 3}},
        {{"-log 3"}, {false, false, 3}}, // one token with its inner blank
        {{"LOG"}, {false, false, 0}},
        {{"LOG=2"}, {false, false, 0}},
        {{"-log2.5"}, {false, false, 2}},
        {{"-log3.5"}, {false, false, 4}},
        {{"-log2", "-log3"}, {false, false, 3}},
        {{"-log99999"}, {false, false, 1}}, // beyond 16 bits: ignored
        {{"-log-2"}, {false, false, -2}},
        {{"-DEBUGFILE", "/PROZESSINFO", "\\log2", "foo"}, {true, true, 2}},
        {{"-debugfilex"}, {true, false, 1}},
        {{"-debug"}, {false, false, 1}},
        {{"prozessinfo"}, {false, true, 1}},
        {{"- log2"}, {false, false, 2}}, // the rest is trimmed after the prefix
        {{"--log2"}, {false, false, 1}}, // headless options never match a switch
        {{"--debugfile", "--check"}, {false, false, 1}},
        {{"", "  "}, {false, false, 1}},
        {{"xlog2"}, {false, false, 1}},
    };
    for (const auto& row : rows) {
        const Switches got = Parse(row.args);
        std::string shown;
        for (const auto& a : row.args)
            shown += "[" + a + "]";
        EXPECT_EQ(got.debugFile, row.expected.debugFile) << shown;
        EXPECT_EQ(got.prozessInfo, row.expected.prozessInfo) << shown;
        EXPECT_EQ(got.level, row.expected.level) << shown;
    }
}

TEST(StartCounter, CountsStarts) {
    TempProgramDir dir;
    StartCounterFile = dir.File("Ornbrook.v0.1.startcounter");
    const struct {
        const char* before; // nullptr: no file
        const char* after;
    } rows[] = {
        {nullptr, "1\r\n"}, {"1\r\n", "2\r\n"},     {"41", "42\r\n"},
        {"", "1\r\n"},      {"abc\r\n", "1\r\n"},   {" 7\r\n", "8\r\n"},
        {"0\r\n", "1\r\n"}, {"2.5\r\n", "3.5\r\n"}, {"999999999999\r\n", "1000000000000\r\n"},
    };
    for (const auto& row : rows) {
        DeleteFileIfExists(StartCounterFile);
        if (row.before)
            WriteBytes(StartCounterFile, row.before);
        CountStart();
        EXPECT_EQ(ReadBytes(StartCounterFile), row.after) << (row.before ? row.before : "none");
    }
}
