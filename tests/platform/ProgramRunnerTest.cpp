#include "platform/ProgramCommand.h"

#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace ornbrook;

TEST(ProgramCommand, SettingsThatCannotBeSplitSayWhy) {
    const std::pair<std::string, std::string> table[] = {
        {"a 'b c", "the single quote at character 3 is never closed"},
        {"a \"b\\\"", "the double quote at character 3 is never closed"},
        {"a b\\", "the setting ends in a backslash that escapes nothing"},
        {"", "no program is named"},
        {" \t ", "no program is named"},
        {"'' x", "no program is named"},
        {"{name} x", "the program must be named, not given by a placeholder"},
        {"\"/bin/{path}\"", "the program must be named, not given by a placeholder"},
    };
    for (const auto& [setting, error] : table) {
        const ProgramCommand command = ProgramCommand::Parse(setting);
        EXPECT_EQ(command.Error(), error) << setting;
        EXPECT_TRUE(command.Words().empty()) << setting;
    }
}

TEST(FindProgram, AsAShellFindsIt) {
    test::TempProgramDir dir;
    const std::string a = dir.File("a");
    const std::string b = dir.File("b");
    const std::string c = dir.File("c");
    for (const std::string& folder : {a, b, c + "/tool"})
        std::filesystem::create_directories(folder);
    test::WriteBytes(a + "/tool", "#!/bin/sh\n");
    test::WriteBytes(b + "/tool", "#!/bin/sh\n");
    ::chmod((b + "/tool").c_str(), 0700);

    const struct {
        std::string Name;
        std::string Path;
        std::string Found;
        std::string Error;
    } table[] = {
        {"tool", c + ":" + a + ":" + b, b + "/tool", ""},
        {"tool", c + ":" + a, "", "not executable: " + a + "/tool"},
        {"tool", c, "", "program not found: tool"},
        {b + "/tool", "", b + "/tool", ""},
        {a + "/tool", b, "", "not executable: " + a + "/tool"},
        {c + "/tool", b, "", "not executable: " + c + "/tool"},
        {"missing/tool", b, "", "program not found: missing/tool"},
    };
    for (const auto& row : table) {
        const FoundProgram found = FindProgram(row.Name, row.Path.c_str());
        EXPECT_EQ(found.Path, row.Found) << row.Name << " in " << row.Path;
        EXPECT_EQ(found.Error, row.Error) << row.Name << " in " << row.Path;
    }

    // An empty entry is the current directory, wherever it stands.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(b);
    EXPECT_EQ(FindProgram("tool", (a + ":").c_str()).Path, "./tool");
    EXPECT_EQ(FindProgram("tool", "").Path, "./tool");
    std::filesystem::current_path(previous);
    // Without PATH, the system's default path.
    EXPECT_NE(FindProgram("sh", nullptr).Path, "");
}
