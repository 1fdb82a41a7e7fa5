// Where an installed program keeps its files, and how that directory is made.
#include "base/ProgramGlobals.h"

#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using namespace ornbrook;
using ornbrook::test::TempProgramDir;

namespace {

unsigned Mode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

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

} // namespace
