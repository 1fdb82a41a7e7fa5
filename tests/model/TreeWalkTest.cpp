// Watching subfolders: walks against a real server (pyftpdlib) and a scripted
// one, filters, and what a change of settings does to the entries.
#include "model/UrlFileList.h"

#include "check/TreeWalk.h"
#include "ftp/ServerMemory.h"
#include "model/HeadlessCommands.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

using namespace ornbrook;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::PyFtpServer;
using ornbrook::test::TempProgramDir;

namespace {

using Names = std::vector<std::string>;

// The names of a URL's entries in a given state, sorted.
Names InState(const UrlFileList& list, std::int32_t state) {
    Names names;
    for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i) {
        if (list.GetFileState(i) == state)
            names.push_back(list.GetFileName(i));
    }
    std::sort(names.begin(), names.end());
    return names;
}

Names All(const UrlFileList& list) {
    Names names = InState(list, FileStateOld);
    const Names fresh = InState(list, FileStateNew);
    names.insert(names.end(), fresh.begin(), fresh.end());
    std::sort(names.begin(), names.end());
    return names;
}

UrlSettings Settings(const std::vector<std::string>& assignments) {
    UrlSettings settings;
    EXPECT_TRUE(ApplyAssignments(settings, assignments));
    return settings;
}

// A list without a watch list checks at once, before CheckFiles returns.
void Check(UrlFileList& list) {
    list.CheckFiles();
    ASSERT_FALSE(list.IsCheckPending());
}

// The camera's upload folder: a dated folder with a tree below it and a link
// back up, which must not be followed.
void MakeCameraTree(const PyFtpServer& server) {
    server.AddFile("cam/top.txt");
    server.AddFile("cam/2026-12-06/img_0001.jpg");
    server.AddFile("cam/2026-12-06/deep/d1.txt");
    server.AddFile("cam/2026-12-06/deep/deeper/d2.txt");
    server.AddFile("cam/2026-12-06/deep/deeper/deepest/d3.txt");
    std::filesystem::create_directory_symlink("..", server.RootDir() + "/cam/2026-12-06/loop");
}

} // namespace

TEST(TreeWalk, SubfoldersAreWatchedToTheirDepth) {
    TempProgramDir dir;
    PyFtpServer server;
    MakeCameraTree(server);
    // depth, what the check finds
    const std::pair<int, Names> rows[] = {
        {0, {"2026-12-06", "top.txt"}},
        {1,
         {"2026-12-06", "2026-12-06/deep", "2026-12-06/img_0001.jpg", "2026-12-06/loop",
          "top.txt"}},
        {3,
         {"2026-12-06", "2026-12-06/deep", "2026-12-06/deep/d1.txt", "2026-12-06/deep/deeper",
          "2026-12-06/deep/deeper/d2.txt", "2026-12-06/deep/deeper/deepest",
          "2026-12-06/img_0001.jpg", "2026-12-06/loop", "top.txt"}},
    };
    for (const auto& [depth, found] : rows) {
        UrlFileList list;
        list.SetURL(server.Url("/cam/"));
        list.LoadSettings(Settings({"depth=" + std::to_string(depth)}));
        list.SetStartingPoint();
        Check(list);
        EXPECT_EQ(list.GetErrorMsg(), "");
        EXPECT_EQ(All(list), found) << depth;
    }

    // A new dated folder: its files are news like any; a vanished one goes
    // with all its files.
    UrlFileList list;
    list.SetURL(server.Url("/cam/"));
    list.LoadSettings(Settings({"depth=1"}));
    list.SetStartingPoint();
    Check(list);
    list.RefreshList();
    server.AddFile("cam/2026-12-07/img_0002.jpg");
    server.AddFile("cam/2026-12-07/img_0003.jpg");
    server.Remove("cam/2026-12-06");
    Check(list);
    EXPECT_EQ(InState(list, FileStateNew),
              (Names{"2026-12-07", "2026-12-07/img_0002.jpg", "2026-12-07/img_0003.jpg"}));
    EXPECT_EQ(list.LastCheckNews().NewFiles, 3);
    EXPECT_EQ(InState(list, FileStateGone), (Names{"2026-12-06", "2026-12-06/deep",
                                                   "2026-12-06/img_0001.jpg", "2026-12-06/loop"}));
}

TEST(TreeWalk, FiltersDecideWhatCountsAndTheirChangesAreNoNews) {
    TempProgramDir dir;
    PyFtpServer server;
    MakeCameraTree(server);
    server.AddFile("cam/2026-12-06/IMG_0002.JPG");
    server.AddFile("cam/2026-12-06/img_0003.jpg.part");
    UrlFileList list;
    list.SetURL(server.Url("/cam/"));
    list.LoadSettings(Settings({"depth=2", "include=*/*.jpg"}));
    list.SetStartingPoint();
    Check(list);
    // Include judges files only: the folders are walked and shown.
    EXPECT_EQ(All(list), (Names{"2026-12-06", "2026-12-06/deep", "2026-12-06/deep/deeper",
                                "2026-12-06/img_0001.jpg", "2026-12-06/loop"}));
    list.RefreshList();

    // Wider: what comes into view was there before and is old; a file that is
    // new in the old view as well is news.
    server.AddFile("cam/2026-12-06/img_0004.jpg");
    list.SetSettings(Settings({"depth=2", "include=**/*.jpg", "include=**/*.txt", "nocase=1"}));
    Check(list);
    EXPECT_EQ(InState(list, FileStateNew), Names{"2026-12-06/img_0004.jpg"});
    EXPECT_EQ(list.LastCheckNews().NewFiles, 1);
    EXPECT_EQ(list.LastCheckNews().CameIntoView, 3);
    EXPECT_EQ(InState(list, FileStateGone), Names{});
    list.RefreshList();

    // Narrower: what goes out of view is forgotten at once, not gone, and
    // stays so.
    list.SetSettings(Settings({"depth=1", "include=**/*.jpg", "include=**/*.txt", "nocase=1",
                               "exclude=*/img_000[1-3]*"}));
    const Names kept = {"2026-12-06", "2026-12-06/deep", "2026-12-06/img_0004.jpg",
                        "2026-12-06/loop", "top.txt"};
    EXPECT_EQ(All(list), kept);
    Check(list);
    EXPECT_EQ(All(list), kept);
    EXPECT_EQ(InState(list, FileStateGone), Names{});
    EXPECT_EQ(InState(list, FileStateNew), Names{});
}

TEST(TreeWalk, AFolderThatCannotBeListedFailsTheWholeCheck) {
    TempProgramDir dir;
    // Folders by path: what LIST shows there.
    std::mutex guard;
    std::string cwd;
    std::map<std::string, std::vector<std::string>> tree = {
        {"/w", {"drwxr-xr-x 2 u g 4096 Dec 07  2026 open", "-rw-r--r-- 1 u g 5 Dec 07  2026 a"}},
        {"/w/open", {"-rw-r--r-- 1 u g 5 Dec 07  2026 b"}},
    };
    const auto names = [&] {
        std::vector<std::string> listed;
        for (const std::string& line : tree[cwd])
            listed.push_back(line.substr(line.rfind(' ') + 1));
        return listed;
    };
    FaultFtpServer server({{"CWD",
                            [&](FaultFtpServer::Session& s, const std::string& path) {
                                const std::lock_guard lock(guard);
                                if (path.find("locked") != std::string::npos)
                                    return s.Reply("550 Permission denied.");
                                cwd = path.back() == '/' ? path.substr(0, path.size() - 1) : path;
                                s.Reply("250 ok");
                            }},
                           {"LIST",
                            [&](FaultFtpServer::Session& s, const std::string&) {
                                const std::lock_guard lock(guard);
                                s.ServeListing(tree[cwd]);
                            }},
                           {"NLST", [&](FaultFtpServer::Session& s, const std::string&) {
                                const std::lock_guard lock(guard);
                                s.ServeListing(names());
                            }}});
    UrlFileList list;
    list.SetURL(server.Url("/w/"));
    list.LoadSettings(Settings({"depth=2"}));
    Check(list);
    ASSERT_EQ(list.GetErrorMsg(), "");
    EXPECT_EQ(All(list), (Names{"a", "open", "open/b"}));

    // A refused subfolder: the message names it, and nothing anywhere is gone
    // (not even "a", which the top folder no longer lists).
    {
        const std::lock_guard lock(guard);
        tree["/w"] = {"drwxr-xr-x 2 u g 4096 Dec 07  2026 open",
                      "drwxr-xr-x 2 u g 4096 Dec 07  2026 locked"};
    }
    Check(list);
    EXPECT_EQ(list.GetErrorMsg(), "could not change dir locked: 550 Permission denied.");
    EXPECT_EQ(All(list), (Names{"a", "open", "open/b"}));
    EXPECT_EQ(InState(list, FileStateGone), Names{});
}

TEST(TreeWalk, TreesBeyondTheLimitsFailWithNothingGone) {
    TempProgramDir dir;
    PyFtpServer server;
    MakeCameraTree(server);
    UrlFileList list;
    list.SetURL(server.Url("/cam/"));
    list.LoadSettings(Settings({"depth=10"}));
    Check(list);
    const Names known = All(list);
    ASSERT_EQ(known.size(), 10u);
    // folders, entries, message (the link back up counts as a folder: it is listed)
    const std::tuple<std::size_t, std::size_t, const char*> rows[] = {
        {5, 1'000, "tree too large: more than 5 folders"},
        {6, 9, "tree too large: more than 9 entries"},
        {6, 10, ""},
    };
    for (const auto& [folders, entries, message] : rows) {
        SetTreeLimits({folders, entries});
        Check(list);
        EXPECT_EQ(list.GetErrorMsg(), message);
        EXPECT_EQ(All(list), known);
    }
    SetTreeLimits({});
}

// A name that cannot be an entry of its folder is told with the check, never
// shown and never dropped unsaid, and fails nothing; the folder's own "." and
// ".." are no news.
TEST(TreeWalk, NamesThatCannotBeEntriesAreToldNotShown) {
    TempProgramDir dir;
    const auto ls = [](bool folder, const std::string& name) {
        return std::string(folder ? "drwxr-xr-x" : "-rw-r--r--") + " 1 u g 5 Dec 07  2026 " + name;
    };
    const struct {
        const char* command;
        std::vector<std::string> lines;
        Names refused;
    } rows[] = {
        {"MLSD",
         {"type=cdir; /w", "type=pdir; ..", "type=dir; ..", "type=file; a/\tb", "type=file; ok"},
         {"refused \"..\": a name that means a folder",
          "refused \"a/\tb\": a name with a slash in it"}},
        {"LIST", {ls(true, "."), ls(true, ".."), ls(false, "ok")}, {}},
        {"LIST",
         {ls(true, ".."), ls(true, ".."), ls(false, "."), ls(false, "x/y"), ls(false, "ok")},
         {"refused \"..\": a name that means a folder", "refused \".\": a name that means a folder",
          "refused \"x/y\": a name with a slash in it"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines[2]);
        ForgetServers();
        const bool mlsd = row.command == std::string("MLSD");
        FaultFtpServer server(
            {{"FEAT",
              [mlsd](FaultFtpServer::Session& s, const std::string&) {
                  s.Reply(mlsd ? "211-Features:\r\n MLST type*;\r\n211 End" : "211 no features");
              }},
             {"NLST",
              [](FaultFtpServer::Session& s, const std::string&) { s.Reply("502 not here"); }},
             {row.command, [&row](FaultFtpServer::Session& s, const std::string&) {
                  s.ServeListing(row.lines);
              }}});
        UrlFileList list;
        list.SetURL(server.Url("/w/"));
        Check(list);
        EXPECT_EQ(list.GetErrorMsg(), "");
        EXPECT_EQ(All(list), Names{"ok"});
        EXPECT_EQ(list.RefusedNames(), row.refused);
        if (mlsd) {
            // On the command line as well, escaped, and the check is fine.
            std::ostringstream out, err;
            EXPECT_EQ(RunHeadless({"--add", server.Url("/w/")}, out, err), 0) << err.str();
            EXPECT_NE(out.str().find("\nok\n+ ok\nrefused \"..\": a name that means a folder\n"
                                     "refused \"a/\\tb\": a name with a slash in it\n"),
                      std::string::npos)
                << out.str();
        }
    }
}
