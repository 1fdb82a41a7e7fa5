// Checks of watched URLs against a real FTP server (pyftpdlib), and the faults
// that only a scripted server makes.
#include "model/MainInterface.h"
#include "model/UrlFileList.h"

#include "base/FileIO_Code.h"
#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "model/DataFileFormat.h"
#include "model/HeadlessCommands.h"
#include "model/UrlSettings.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/fixtures/TestCertificates.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sstream>

using namespace ornbrook;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::PyFtpServer;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;
using ornbrook::test::WriteBytes;
using namespace std::chrono_literals;

namespace {

using FileList = std::vector<std::pair<std::string, std::int32_t>>;

// The names and states of a URL's entries, in slot order.
FileList Files(const UrlFileList& list) {
    FileList files;
    for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i)
        files.emplace_back(list.GetFileName(i), list.GetFileState(i));
    return files;
}

// 150, the lines, and a final reply of our choosing.
void StartAndCut(FaultFtpServer::Session& s, const std::vector<std::string>& lines,
                 const std::string& final) {
    s.Reply("150 go");
    s.OpenData();
    std::string bytes;
    for (const auto& line : lines)
        bytes += line + "\r\n";
    s.SendData(bytes);
    s.CloseData();
    s.Reply(final);
}

} // namespace

TEST(Check, LifeOfAWatchedDirectory) {
    PyFtpServer server;
    TempProgramDir programDir;
    programDir.ReportAtOnce();
    for (const char* name : {"w/a.txt", "w/b.txt", "w/c.txt"})
        server.AddFile(name);
    const std::string url = server.Url("/w/");
    MainInterface watchList;
    int changes = 0;
    int begins = 0;
    bool checkingSeenByChange = false;
    ListChange told;
    Subscriptions subs;
    subs += watchList.Change.Connect([&](const ListChange& change) {
        ++changes;
        told = change;
        checkingSeenByChange = checkingSeenByChange || watchList.GetURL(1)->IsChecking();
    });
    subs += watchList.CheckBegins.Connect([&](const UrlFileList& list) {
        ++begins;
        EXPECT_TRUE(list.IsChecking());
    });

    EXPECT_EQ(watchList.AddURL(url), 1);
    watchList.WaitForChecks();
    const auto list = watchList.GetURL(1);
    // Once, naming the URL and its rows: three came.
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(told.List, list.get());
    EXPECT_EQ(told.Entries.Added, 3);
    EXPECT_TRUE(told.Entries.Removed.empty() && told.Entries.Changed.empty());
    EXPECT_EQ(begins, 1);
    EXPECT_FALSE(checkingSeenByChange);
    EXPECT_EQ(list->CountState(FileStateNew), 3);
    EXPECT_TRUE(list->IsChanged());
    // Adding it again checks it and writes nothing.
    std::filesystem::remove(MainInterface::DataFileName());
    EXPECT_EQ(watchList.AddURL(url), 1);
    EXPECT_FALSE(FileExists(MainInterface::DataFileName()));

    watchList.Refresh();
    EXPECT_FALSE(list->IsChanged());
    server.Remove("w/b.txt");
    server.AddFile("w/d.txt");
    watchList.CheckFiles();
    watchList.WaitForChecks();
    auto files = Files(*list);
    std::sort(files.begin(), files.begin() + 3); // the server's order is its own
    EXPECT_EQ(files, (FileList{{"a.txt", 0}, {"b.txt", 2}, {"c.txt", 0}, {"d.txt", 1}}));

    // A gone entry that comes back with other facts was put back changed: new
    // until acknowledged.
    server.AddFile("w/b.txt", "back");
    watchList.CheckFiles();
    watchList.WaitForChecks();
    files = Files(*list);
    EXPECT_NE(
        std::find(files.begin(), files.end(), std::make_pair(std::string("b.txt"), FileStateNew)),
        files.end());
    EXPECT_EQ(list->CountState(FileStateGone), 0);

    // A failed check keeps the entries and saves the error; the next success clears it.
    files = Files(*list);
    list->SetURL(server.Url("/no-such-dir/"));
    list->CheckFiles();
    watchList.WaitForChecks();
    EXPECT_EQ(list->GetErrorMsg(), "could not change dir: 550 No such file or directory.");
    EXPECT_EQ(Files(*list), files);
    EXPECT_NE(ReadBytes(MainInterface::DataFileName()).find("could not change dir: 550"),
              std::string::npos);
    list->SetURL(url);
    list->CheckFiles();
    watchList.WaitForChecks();
    EXPECT_FALSE(list->IsError());
    EXPECT_EQ(ReadBytes(MainInterface::DataFileName()).find("could not"), std::string::npos);

    // What is on disk loads back the same.
    MainInterface reloaded;
    ASSERT_EQ(reloaded.GetURLsCount(), 1);
    EXPECT_EQ(Files(*reloaded.GetURL(1)), Files(*list));

    // An empty listing is believed: everything goes.
    for (const char* name : {"w/a.txt", "w/b.txt", "w/c.txt", "w/d.txt"})
        server.Remove(name);
    watchList.CheckFiles();
    watchList.WaitForChecks();
    EXPECT_EQ(list->CountState(FileStateGone), list->GetFilesCount());
    // Letter case makes another URL.
    std::string upper = url;
    upper.replace(0, 3, "FTP");
    EXPECT_EQ(watchList.AddURL(upper), 2);
    watchList.WaitForChecks();
    EXPECT_FALSE(watchList.GetURL(2)->IsError());
}

TEST(Check, AListingCutHalfWayChangesNothing) {
    TempProgramDir programDir;
    std::atomic<bool> cut = false;
    FaultFtpServer server({{"NLST", [&](FaultFtpServer::Session& s, const std::string&) {
                                if (!cut) {
                                    s.ServeListing({"one", "two"});
                                    return;
                                }
                                s.Reply("150 Here it comes.");
                                s.OpenData();
                                s.SendData("one\r\n");
                                s.ResetData();
                                s.CloseControl();
                            }}});
    MainInterface watchList;
    watchList.AddURL(server.Url());
    watchList.WaitForChecks();
    const auto list = watchList.GetURL(1);
    ASSERT_EQ(list->GetFilesCount(), 2);
    cut = true;
    list->CheckFiles();
    watchList.WaitForChecks();
    // The reset data and the closed control connection race: either is the reason.
    EXPECT_EQ(list->GetErrorMsg().rfind("could not list dir: ", 0), 0u) << list->GetErrorMsg();
    EXPECT_EQ(Files(*list), (FileList{{"one", 1}, {"two", 1}}));
}

// What the user sees after `--check` when a server refuses, cuts or stalls a
// listing: known entries are never marked gone by a listing that is not whole.
TEST(Check, OnlyAWholeListingMarksFilesGone) {
    using Session = FaultFtpServer::Session;
    const FaultFtpServer::Script mlsd = {{"FEAT", [](Session& s, const std::string&) {
                                              s.Reply("211-x\r\n MLST type*;\r\n211 end");
                                          }}};
    const auto with = [](FaultFtpServer::Script script, const FaultFtpServer::Script& more) {
        script.insert(more.begin(), more.end());
        return script;
    };
    const FileList known = {{"a", 0}, {"b", 0}, {"c", 0}, {"d", 0}, {"e", 1}};
    const struct {
        const char* name;
        FaultFtpServer::Script script;
        std::vector<std::string> listed;
        FileList after;
        std::string message;
        int status;
    } rows[] = {
        {"550 to MLSD",
         with(mlsd, {{"MLSD", [](Session& s, auto&) { s.Reply("550 Not enough privileges."); }}}),
         {},
         known,
         "could not list dir: 550 Not enough privileges.",
         1},
        {"450 to MLSD",
         with(mlsd, {{"MLSD", [](Session& s, auto&) { s.Reply("450 try later"); }}}),
         {},
         known,
         "could not list dir: 450 try later",
         1},
        {"550 to NLST where LIST fails",
         {{"NLST", [](Session& s, auto&) { s.Reply("550 No files found"); }},
          {"LIST", [](Session& s, auto&) { s.Reply("550 Permission denied"); }}},
         {},
         known,
         "could not list dir: 550 No files found",
         1},
        {"550 to NLST where LIST is empty: the directory is empty",
         {{"NLST", [](Session& s, auto&) { s.Reply("550 No files found"); }},
          {"LIST", [](Session& s, auto&) { s.ServeListing({"total 0"}); }}},
         {},
         {{"a", 2}, {"b", 2}, {"c", 2}, {"d", 2}, {"e", 2}},
         "",
         0},
        {"a cut listing adds and marks nothing gone",
         {{"NLST",
           [](Session& s, auto&) {
               StartAndCut(s, {"a", "c", "x", "e"}, "226 Output truncated to 4 matches");
           }}},
         {},
         {{"a", 0}, {"b", 0}, {"c", 0}, {"d", 0}, {"e", 1}, {"x", 1}},
         "listing cut by the server at 4 names",
         1},
        {"active data never arrives: passive lists in the same check",
         {{"NLST",
           [](Session& s, auto&) {
               if (s.Passive())
                   s.ServeNames();
               else
                   s.Reply("150 go");
           }}},
         {"a", "b", "c", "e", "y"},
         {{"a", 0}, {"b", 0}, {"c", 0}, {"d", 2}, {"e", 1}, {"y", 1}},
         "",
         0},
    };
    ForgetServers();
    FtpTimeouts shortened;
    shortened.DataConnect = 300ms;
    SetFtpTimeouts(shortened);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempProgramDir programDir;
        std::vector<FileEntry> entries{FileEntry{}};
        for (const auto& [name, state] : known)
            entries.push_back(FileEntry{name, state});
        FaultFtpServer server(row.script, row.listed);
        std::string file;
        AppendFrame(file, server.Url(), "", entries);
        WriteBytes(MainInterface::DataFileName(), file);

        std::ostringstream out, err;
        EXPECT_EQ(RunHeadless({"--check"}, out, err), row.status);
        // Gone files are printed only when the listing was whole.
        const bool goneShown = out.str().find("\n- ") != std::string::npos;
        EXPECT_EQ(goneShown, std::any_of(row.after.begin(), row.after.end(),
                                         [](const auto& entry) { return entry.second == 2; }));
        MainInterface reloaded;
        ASSERT_EQ(reloaded.GetURLsCount(), 1);
        EXPECT_EQ(Files(*reloaded.GetURL(1)), row.after);
        EXPECT_EQ(reloaded.GetURL(1)->GetErrorMsg(), row.message);
        ForgetServers();
    }
    SetFtpTimeouts({});
}

// A server that takes PORT but never connects (a router in between): auto
// lists passive in the same check and keeps to passive in the next runs,
// active fails, passive never sends PORT.
TEST(Check, DataModesAndTheRememberedFallback) {
    using Session = FaultFtpServer::Session;
    TempProgramDir programDir;
    FtpTimeouts shortened;
    shortened.DataConnect = 300ms;
    SetFtpTimeouts(shortened);
    FaultFtpServer server({{"NLST",
                            [](Session& s, auto&) {
                                if (s.Passive())
                                    s.ServeNames();
                                else
                                    s.Reply("150 go");
                            }}},
                          {"a"});
    std::string file;
    AppendFrame(file, server.Url(), "", {FileEntry{}});
    WriteBytes(MainInterface::DataFileName(), file);
    const struct {
        const char* Mode;
        bool NewRun; // the memory of the last run is gone, its store kept
        int Status;
        std::size_t Ports;
    } runs[] = {{"auto", true, 0, 1},
                {"auto", true, 0, 0},
                {"active", false, 1, 1},
                {"passive", true, 0, 0}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.Mode);
        if (run.NewRun)
            ForgetServers();
        std::ostringstream out, err;
        ASSERT_EQ(RunHeadless({"--set", "1", std::string("mode=") + run.Mode}, out, err), 0);
        const std::size_t before = server.Transcript().size();
        EXPECT_EQ(RunHeadless({"--check"}, out, err), run.Status) << out.str();
        const auto transcript = server.Transcript();
        EXPECT_EQ(std::count_if(transcript.begin() + static_cast<std::ptrdiff_t>(before),
                                transcript.end(),
                                [](const std::string& line) { return line.rfind("PORT", 0) == 0; }),
                  static_cast<std::ptrdiff_t>(run.Ports));
    }
    ForgetServers();
    SetFtpTimeouts({});
}

// What --check prints is read by scripts line by line: a name or a reply can
// never make a line of its own, nor pose as one.
TEST(Check, NamesAndRepliesArePrintedOneToALine) {
    using Session = FaultFtpServer::Session;
    TempProgramDir programDir;
    programDir.ReportAtOnce();
    FaultFtpServer good(
        {{"FEAT", [](Session& s, auto&) { s.Reply("211-x\r\n MLST type*;\r\n211 end"); }},
         {"MLSD", [](Session& s, auto&) {
              s.ServeListing({"type=file;size=1; x\rsaved passwd", "type=file;size=1; \x1b[2Jclear",
                              "type=file;size=1; back\\slash \xe9t\xe9"});
          }}});
    FaultFtpServer bad({{"CWD", [](Session& s, auto&) { s.Reply("550 no\\such \xff"); }}});
    std::string file;
    AppendFrame(file, good.Url(), "", {FileEntry{}});
    AppendFrame(file, bad.Url(), "", {FileEntry{}});
    WriteBytes(MainInterface::DataFileName(), file);
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless({"--check"}, out, err), 1);
    EXPECT_EQ(out.str(), good.Url() + "\nok\n+ x\\rsaved passwd\n+ \\x1b[2Jclear\n" +
                             "+ back\\\\slash \\xe9t\\xe9\n\n" + bad.Url() +
                             "\ncould not change dir: 550 no\\\\such \\xff\n\n");
}

// The message of a cut listing stays until a whole listing comes; the new
// files a cut listing reports are acted on all the same (they are new only once).
TEST(Check, AWholeListingClearsTheCutMessage) {
    TempProgramDir programDir;
    std::atomic<int> stage = 0;
    FaultFtpServer server({{"NLST", [&](FaultFtpServer::Session& s, const std::string&) {
                                if (stage == 0)
                                    StartAndCut(s, {"a"}, "226 Output truncated to 1 matches");
                                else if (stage == 1)
                                    StartAndCut(s, {"a", "c"}, "226 Output truncated to 2 matches");
                                else
                                    s.ServeListing({"a", "b", "c"});
                            }}});
    MainInterface watchList;
    const auto list = watchList.GetURL(watchList.AddURL(server.Url()));
    watchList.WaitForChecks();
    EXPECT_EQ(list->GetErrorMsg(), "listing cut by the server at 1 names");
    EXPECT_TRUE(list->IsError());
    UrlSettings settings;
    ASSERT_TRUE(ApplyAssignments(settings, {"run=no-such-program-here {name}"}));
    watchList.SetURLSettings(1, settings);
    stage = 1;
    list->CheckFiles();
    watchList.WaitForChecks();
    EXPECT_EQ(list->GetErrorMsg(), "listing cut by the server at 2 names");
    EXPECT_EQ(watchList.ProgramProblem(server.Url()), "program not found: no-such-program-here");
    stage = 2;
    list->CheckFiles();
    watchList.WaitForChecks();
    EXPECT_FALSE(list->IsError());
    EXPECT_EQ(Files(*list), (FileList{{"a", 1}, {"c", 1}, {"b", 1}}));
}

// A server whose certificate nobody vouches for: refused until the user trusts
// it with --trust; then a TLS listing cut without close_notify fails the check
// and marks nothing gone.
TEST(Check, TrustOnTheCommandLineThenACutTlsListing) {
    TempProgramDir programDir;
    test::TestCertificates pki;
    const auto self = pki.SelfSigned("self", "IP:127.0.0.1");
    std::atomic<bool> cut = false;
    FaultFtpServer server({{"NLST",
                            [&](FaultFtpServer::Session& s, const std::string&) {
                                if (!cut) {
                                    s.ServeNames();
                                    return;
                                }
                                s.Reply("150 go");
                                s.OpenData();
                                s.SendData("alpha\r\n");
                                s.CutData();
                            }}},
                          {"alpha", "beta"},
                          {test::ServerTls::Mode::Implicit, self.CertificateFile, self.KeyFile});
    const std::string url = server.Url("/");
    const std::string where = "127.0.0.1:" + std::to_string(server.Port());
    const auto run = [](const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int status = RunHeadless(args, out, err);
        return std::tuple{status, out.str(), err.str()};
    };

    EXPECT_EQ(run({"--add", url}),
              std::tuple(1,
                         url +
                             "\ncould not connect: certificate not trusted (self-signed) SHA-256 " +
                             self.Fingerprint + "\n\n",
                         std::string()));
    EXPECT_EQ(std::get<0>(run({"--trust", "ftp://127.0.0.1/"})), 2);
    const auto [status, shown, problem] = run({"--trust", url});
    EXPECT_EQ(status, 0) << problem;
    for (const std::string& line : std::vector<std::string>{
             "server      " + where + "\n", "subject     CN=self server\n",
             "issuer      CN=self server\n", "SHA-256     " + self.Fingerprint + "\n",
             "not trusted self-signed\n", "trusted for " + where + "\n"})
        EXPECT_NE(shown.find(line), std::string::npos) << line << shown;
    EXPECT_EQ(ReadBytes(programDir.File("trustedcerts.dat")),
              where + " " + self.Fingerprint + "\r\n");

    EXPECT_EQ(run({"--check"}), std::tuple(0, url + "\nok\n+ alpha\n+ beta\n\n", std::string()));
    EXPECT_EQ(std::get<0>(run({"--refresh"})), 0);
    cut = true;
    EXPECT_EQ(run({"--check"}),
              std::tuple(1,
                         url + "\ncould not list dir: data connection cut short (no TLS close)\n\n",
                         std::string()));
    EXPECT_EQ(
        run({"--list"}),
        std::tuple(
            0,
            url + "\t0 new\t0 changed\t0 arriving\t0 gone\t2 old\terror: could not list dir: data "
                  "connection cut short (no TLS close)\n",
            std::string()));
}
