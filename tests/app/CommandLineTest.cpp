#include "app/Startup.h"
#include "base/FileIO_Code.h"
#include "diag/Debug_Modul.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;

TEST(CommandLine, Switches) {
    TempProgramDir dir;
    // arguments, DEBUGFILE, PROZESSINFO, log level (1 before parsing)
    const std::tuple<std::vector<std::string>, bool, bool, std::int16_t> rows[] = {
        {{}, false, false, 1},
        {{"-log2"}, false, false, 2},
        {{"/log2"}, false, false, 2},
        {{"\\Log3"}, false, false, 3},
        {{"-log 3"}, false, false, 3}, // one token with its inner blank
        {{"LOG"}, false, false, 0},
        {{"LOG=2"}, false, false, 0},
        {{"-log2.5"}, false, false, 2},
        {{"-log3.5"}, false, false, 4},
        {{"-log2", "-log3"}, false, false, 3},
        {{"-log99999"}, false, false, 1}, // beyond 16 bits: ignored
        {{"-log-2"}, false, false, -2},
        {{"-DEBUGFILE", "/PROZESSINFO", "\\log2", "foo"}, true, true, 2},
        {{"-debugfilex"}, true, false, 1},
        {{"-debug"}, false, false, 1},
        {{"prozessinfo"}, false, true, 1},
        {{"- log2"}, false, false, 2}, // the rest is trimmed after the prefix
        {{"--log2"}, false, false, 1}, // headless options never match a switch
        {{"", "  "}, false, false, 1},
        {{"xlog2"}, false, false, 1},
    };
    for (const auto& [args, debugFile, prozessInfo, level] : rows) {
        InitDebug();
        SetLogLevel(1);
        ParseCommandLine(args);
        std::string shown;
        for (const auto& a : args)
            shown += "[" + a + "]";
        EXPECT_EQ(std::tuple(DebugFileOn(), ProzessInfoOn(), LogLevel()),
                  std::tuple(debugFile, prozessInfo, level))
            << shown;
    }
}

TEST(StartCounter, CountsStarts) {
    TempProgramDir dir;
    StartCounterFile = dir.File("Ornbrook.v0.1.startcounter");
    const std::pair<const char*, const char*> rows[] = {
        // before (nullptr: no file), after
        {nullptr, "1\r\n"}, {"1\r\n", "2\r\n"},     {"41", "42\r\n"},
        {"", "1\r\n"},      {"abc\r\n", "1\r\n"},   {" 7\r\n", "8\r\n"},
        {"0\r\n", "1\r\n"}, {"2.5\r\n", "3.5\r\n"}, {"999999999999\r\n", "1000000000000\r\n"},
    };
    for (const auto& [before, after] : rows) {
        DeleteFileIfExists(StartCounterFile);
        if (before)
            WriteBytes(StartCounterFile, before);
        CountStart();
        EXPECT_EQ(ReadBytes(StartCounterFile), after) << (before ? before : "none");
    }
}
