#include "check/UrlFileListChecker.h"
#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "tests/fixtures/FaultFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

using namespace ornbrook;
using ornbrook::test::FaultFtpServer;
using Session = FaultFtpServer::Session;
using Script = FaultFtpServer::Script;
using namespace std::chrono_literals;

namespace {

struct Outcome {
    std::optional<std::string> error;
    std::vector<std::string> names;
    bool cut = false;
};

Outcome Check(const std::string& url, bool confirmEmpty = false) {
    UrlFileListChecker checker;
    checker.SetConfirmEmptyListing(confirmEmpty);
    Outcome outcome;
    int raised = 0;
    Subscriptions subs;
    subs += checker.Ended.Connect([&](CheckOutcome& ended) {
        ++raised;
        if (!ended.Listed) {
            outcome.error = ended.Listed.error().Message;
            return;
        }
        for (const ListedEntry& entry : ended.Listed->Entries)
            outcome.names.push_back(entry.Name);
        outcome.cut = ended.Listed->Cut;
    });
    checker.CheckURL(Url(url));
    EXPECT_EQ(raised, 1);
    return outcome;
}

bool Sent(const std::vector<std::string>& transcript, const std::string& prefix) {
    return std::any_of(transcript.begin(), transcript.end(),
                       [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// 150 and the first bytes of a listing, which the row then breaks off.
void StartListing(Session& s, const std::string& part) {
    s.Reply("150 go");
    s.OpenData();
    s.SendData(part);
}

const std::vector<std::string> TwoNames = {"alpha", "beta gamma"};

// A script that answers verb with reply.
Script Answer(const std::string& verb, const std::string& reply) {
    return {{verb, [reply](Session& s, auto&) { s.Reply(reply); }}};
}

class FaultServer : public testing::Test {
protected:
    void SetUp() override {
        FtpTimeouts t;
        t.Connect = 2s;
        t.Reply = 400ms;
        t.DataConnect = 400ms;
        t.DataIdle = 400ms;
        t.Check = 1500ms;
        SetFtpTimeouts(t);
    }
    void TearDown() override {
        ForgetServers();
        SetFtpTimeouts({});
        SetFtpLimits({});
    }
};

} // namespace

TEST_F(FaultServer, ChecksEndAsTheServerDeserves) {
    const std::string endless(1 << 20, 'x');
    FtpLimits tight;
    tight.ListingNames = 1;
    const std::string ftpsHint = " (this may be an ftps:// server)";
    const Script mlsd = Answer("FEAT", "211-x\r\n MLST type*;\r\n211 end");
    const auto with = [](Script script, const Script& more) {
        for (const auto& [verb, action] : more)
            script[verb] = action;
        return script;
    };
    // A server that knows neither MLSD nor NLST.
    const auto listOnly = [](const std::vector<std::string>& lines) {
        return Script{
            {"NLST", [](Session& s, auto&) { s.Reply("500 Command \"NLST\" not understood."); }},
            {"LIST", [lines](Session& s, auto&) { s.ServeListing(lines); }}};
    };
    const struct {
        const char* name;
        Script script;
        std::optional<std::string> error; // nullopt: Ready with `names`
        std::vector<std::string> names = {};
        std::string path = "/";
        std::vector<std::string> mustSend = {};
        std::vector<std::string> mustNotSend = {};
        std::optional<FtpLimits> limits = std::nullopt;
        bool cut = false;
    } rows[] = {
        {"multi-line greeting",
         {{"", [](Session& s,
                  auto&) { s.Send("220-Welcome\r\n220-to the\r\n 220 x\r\n220 end\r\n"); }}},
         std::nullopt,
         TwoNames,
         "/",
         {},
         // A listing needs neither a type (ASCII is the default) nor a farewell's answer.
         {"TYPE", "OPTS MLST"}},
        {"slow byte-by-byte replies",
         {{"",
           [](Session& s, auto&) {
               s.SendSlowly(true);
               s.Reply("220-slow\r\n220 ready");
           }}},
         std::nullopt,
         TwoNames},
        {"LF-only lines",
         {{"",
           [](Session& s, auto&) {
               s.UseBareLineFeeds();
               s.Reply("220 ready");
           }}},
         std::nullopt,
         TwoNames},
        // No greeting, or bytes that are none: perhaps TLS was expected.
        {"endless reply line",
         {{"", [&](Session& s, auto&) { s.Send("220 " + endless); }}},
         "could not connect: malformed reply" + ftpsHint},
        {"NUL in a reply",
         {{"", [](Session& s, auto&) { s.Send(std::string("220 a\0b\r\n", 9)); }}},
         "could not connect: malformed reply" + ftpsHint},
        {"silent server",
         {{"", [](Session& s, auto&) { s.GoSilent(); }}},
         "could not connect: no reply in 400 ms" + ftpsHint},
        {"a TLS alert for a greeting",
         {{"",
           [](Session& s, auto&) {
               s.Send(std::string("\x15\x03\x03\x00\x02\x02\x46", 7));
               s.CloseControl();
           }}},
         "could not connect: connection closed by the server" + ftpsHint},
        {"busy server, multi-line refusal cut to one line",
         {{"", [](Session& s, auto&) { s.Reply("421-Too many users\r\n421 \x1b[1mtry\tlater"); }}},
         "could not connect: 421 Too many users [1mtry later"},
        {"silent after the listing command",
         {{"NLST", [](Session& s, auto&) { s.GoSilent(); }}},
         "could not list dir: no reply in 400 ms"},
        {"refused login", Answer("PASS", "530 Login incorrect."),
         "login refused: 530 Login incorrect."},
        {"missing directory",
         Answer("CWD", "550 no such dir"),
         "could not change dir: 550 no such dir",
         {},
         "/missing",
         {"CWD /missing"}},
        // NLST's 450/550 may mean "no files"; LIST settles it.
        {"450 to NLST, LIST refused",
         Answer("NLST", "450 try later"),
         "could not list dir: 450 try later",
         {},
         "/",
         {"LIST"}},
        {"550 to NLST, LIST lists entries",
         {{"NLST", [](Session& s, auto&) { s.Reply("550 No files found"); }},
          {"LIST",
           [](Session& s, auto&) {
               s.ServeListing({"total 1", "-rw-r--r-- 1 a a 0 x alpha"});
           }}},
         "could not list dir: 550 No files found"},
        {"550 to NLST, LIST empty",
         {{"NLST", [](Session& s, auto&) { s.Reply("550 No files found"); }},
          {"LIST", [](Session& s, auto&) { s.ServeListing({"total 0"}); }}},
         std::nullopt},
        {"550 to MLSD",
         with(mlsd, Answer("MLSD", "550 Permission denied.")),
         "could not list dir: 550 Permission denied.",
         {},
         "/",
         {"MLSD"},
         {"NLST", "LIST"}},
        {"450 to MLSD", with(mlsd, Answer("MLSD", "450 try later")),
         "could not list dir: 450 try later"},
        {"MLSD unknown after all, NLST works",
         with(mlsd, Answer("MLSD", "500 unknown command")),
         std::nullopt,
         TwoNames,
         "/",
         {"MLSD", "NLST"}},
        {"other refusal of the listing", Answer("NLST", "501 bad"), "could not list dir: 501 bad"},
        {"425 after 150", Answer("NLST", "150 go\r\n425 cannot open"),
         "could not list dir: 425 cannot open"},
        {"426 after 150",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "alpha\r\n");
               s.CloseData();
               s.Reply("426 aborted");
           }}},
         "could not list dir: 426 aborted"},
        {"data connection never made, not even passive", Answer("NLST", "150 go"),
         "could not list dir: data stalled for 400 ms"},
        {"PORT taken, its connection never comes: passive in the same check",
         {{"NLST",
           [](Session& s, auto&) {
               if (s.Passive())
                   s.ServeNames();
               else
                   s.Reply("150 go");
           }}},
         std::nullopt,
         TwoNames,
         "/",
         {"PORT", "EPSV"}},
        {"connection reset mid-listing",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "alpha\r\nbet");
               s.ResetData();
           }}},
         "could not list dir: data connection reset by the server"},
        {"control connection reset mid-reply",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "alpha\r\n");
               s.CloseData();
               s.Send("226-Transfer");
               s.ResetControl();
           }}},
         "could not list dir: connection reset by the server"},
        {"control lost mid-listing",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "alpha\r\n");
               s.CloseData();
               s.CloseControl();
           }}},
         "could not list dir: connection closed by the server"},
        {"trickling data ends at the overall limit",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "");
               for (int i = 0; i < 80 && s.SendData("a"); ++i)
                   std::this_thread::sleep_for(100ms);
           }}},
         "could not list dir: timed out after 1500 ms"},
        {"a flood of 1xx replies",
         {{"NLST",
           [](Session& s, auto&) {
               for (int i = 0; i < 500; ++i)
                   s.Reply("120 wait");
           }}},
         "could not list dir: more than 100 preliminary replies"},
        {"226 before the data, in one packet",
         {{"NLST",
           [](Session& s, auto&) {
               s.Send("150 go\r\n226 done\r\n");
               s.OpenData();
               s.SendData("alpha\r\nbeta gamma");
               s.CloseData();
           }}},
         std::nullopt,
         TwoNames},
        {"the server says it cut the listing",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "alpha\r\nbeta gamma\r\n");
               s.CloseData();
               s.Reply("226-Options: -a\r\n226 Output TRUNCATED to 2 matches");
           }}},
         std::nullopt,
         TwoNames,
         "/",
         {},
         {},
         std::nullopt,
         true},
        {"foreign data connection refused",
         {{"NLST",
           [](Session& s, auto&) {
               s.Reply("150 go");
               s.ConnectDataFrom("127.0.0.2", "intruder\r\n");
               s.ServeNames();
           }}},
         std::nullopt,
         TwoNames},
        {"PORT refused, passive works",
         Answer("PORT", "500 no active mode"),
         std::nullopt,
         TwoNames,
         "/",
         {"EPSV", "NLST"}},
        {"425 to an active listing, passive works",
         {{"NLST",
           [](Session& s, auto&) {
               if (s.Passive())
                   s.ServeNames();
               else
                   s.Reply("425 cannot reach you");
           }}},
         std::nullopt,
         TwoNames,
         "/",
         {"PORT", "EPSV"}},
        {"227 naming another address",
         {{"PORT", [](Session& s, auto&) { s.Reply("500 no"); }},
          {"EPSV", [](Session& s, auto&) { s.Reply("502 no"); }},
          {"PASV",
           [](Session& s, auto&) {
               const unsigned port = s.ListenPassive();
               s.Reply("227 Entering Passive Mode (10,9,8,7," + std::to_string(port / 256) + "," +
                       std::to_string(port % 256) + ")");
           }}},
         std::nullopt,
         TwoNames,
         "/",
         {"PASV"}},
        {"CR/LF in the path",
         {},
         "could not change dir: line break in the path",
         {},
         "/in\r\nDELE x",
         {},
         {"CWD", "DELE"}},
        {"MLSD facts and UTF8",
         {{"FEAT",
           [](Session& s, auto&) {
               s.Reply("211-Features:\r\n MLST type*;size*;\r\n UTF8\r\n211 End");
           }},
          {"MLSD",
           [](Session& s, auto&) {
               // Pure-FTPd puts the link target, spaces and all, into a fact.
               s.ServeListing({"type=cdir;perm=el; /", "type=pdir; ..",
                               "type=file;size=1;  two  spaces ", "Type=Dir;x=1; sub;dir",
                               "type=OS.unix=slink:a b;size=3;modify=20240101000000; link_to_ab",
                               " no facts", "type=file; " + std::string(1000, 'L')});
           }}},
         std::nullopt,
         {" two  spaces ", "sub;dir", "link_to_ab", "no facts", std::string(1000, 'L')},
         "/",
         {"OPTS UTF8 ON", "MLSD"},
         {"NLST", "OPTS MLST"}},
        {"a line without the shape of MLSD",
         with(mlsd, {{"MLSD",
                      [](Session& s, auto&) {
                          s.ServeListing({"type=file; alpha", "garbage-without-space"});
                      }}}),
         "could not list dir: malformed MLSD line"},
        // Where do the facts end? NLST of the same directory says.
        {"an MLSD line with \"; \" twice",
         with(mlsd, {{"MLSD",
                      [](Session& s, auto&) {
                          s.ServeListing(
                              {"type=OS.unix=slink:x; y;size=1; beta gamma", "type=file; alpha"});
                      }}}),
         std::nullopt,
         {"beta gamma", "alpha"},
         "/",
         {"MLSD", "NLST"}},
        {"an MLSD line with \"; \" twice and no NLST",
         with(mlsd, {{"MLSD",
                      [](Session& s, auto&) {
                          s.ServeListing({"type=OS.unix=slink:x; y;size=1; beta gamma"});
                      }},
                     {"NLST", [](Session& s, auto&) { s.Reply("500 Unknown command."); }}}),
         "could not list dir: ambiguous MLSD line"},
        // vsftpd on a directory it may enter but not read.
        {"226 that says the listing failed",
         {{"NLST",
           [](Session& s, auto&) {
               s.Reply("150 Here comes the directory listing.");
               s.OpenData();
               s.CloseData();
               s.Reply("226 Transfer done (but failed to open directory).");
           }}},
         "could not list dir: 226 Transfer done (but failed to open directory).",
         {},
         "/",
         {},
         {"LIST"}},
        {"LIST alone, Unix style",
         listOnly({"total 3", "-rw-r--r--   1 ftp ftp   5 Jan  1 12:00 alpha",
                   "drwxr-xr-x   2 0   0  4096 Mar  7  2023  lead space",
                   "lrwxrwxrwx   1 ftp ftp   5 Jan  1 12:00 beta gamma -> alpha"}),
         std::nullopt,
         {"alpha", " lead space", "beta gamma"},
         "/",
         {"NLST", "LIST"}},
        {"LIST alone, DOS style",
         listOnly({"01-15-24  02:30PM       <DIR>          beta gamma",
                   "01-15-24  02:30PM                 1234 alpha"}),
         std::nullopt,
         {"beta gamma", "alpha"}},
        {"LIST alone, a line of no known style",
         listOnly({"-rw-r--r--   1 ftp ftp   5 Jan  1 12:00 alpha", "alpha beta"}),
         "could not list dir: unrecognised listing"},
        // "report.csv\nimportant.csv" is one name: NLST splits it, LIST shows
        // a line and a piece of one.
        {"a name with a line break, NLST and LIST",
         {{"NLST",
           [](Session& s, auto&) {
               s.ServeListing({"report.csv", "important.csv"});
           }},
          {"LIST",
           [](Session& s, auto&) {
               s.ServeListing(
                   {"-rw-r--r--   1 ftp ftp   5 Jan  1 12:00 report.csv", "important.csv"});
           }}},
         "could not list dir: a name holds a line break: NLST and LIST cannot tell its parts "
         "from two names"},
        {"too many names",
         {},
         "could not list dir: listing beyond the caps",
         {},
         "/",
         {},
         {},
         tight},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ForgetServers();
        if (row.limits)
            SetFtpLimits(*row.limits);
        FaultFtpServer server(row.script, TwoNames);
        const Outcome outcome = Check(server.Url(row.path));
        SetFtpLimits({});
        EXPECT_EQ(outcome.error, row.error);
        EXPECT_EQ(outcome.names, row.names);
        EXPECT_EQ(outcome.cut, row.cut);
        const auto transcript = server.Transcript();
        for (const auto& line : row.mustSend)
            EXPECT_TRUE(Sent(transcript, line)) << line;
        for (const auto& line : row.mustNotSend)
            EXPECT_FALSE(Sent(transcript, line)) << line;
    }
}

// The URL's pieces as they reach the server (decoded), and a line break in them never.
TEST_F(FaultServer, SendsTheURLsPiecesDecoded) {
    const struct {
        std::string userInfo;
        std::string path;
        std::vector<std::string> sent;
        std::optional<std::string> error = std::nullopt;
    } rows[] = {
        {"", "/a%20b/", {"USER anonymous", "PASS ornbrook@example.com", "CWD /a b/"}},
        {"b%40b:p%40ss%3Aw%2Frd%23%3F%25", "/x%2Fy", {"USER b@b", "PASS p@ss:w/rd#?%", "CWD /x/y"}},
        {"bob:pw",
         "/in%0D%0ADELE%20x",
         {"USER bob", "PASS pw"},
         "could not change dir: line break in the path"},
        {"bob%0D%0APASS%20x:pw", "/", {}, "could not connect: line break in the login"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.userInfo + row.path);
        FaultFtpServer server({}, TwoNames);
        const std::string url = "ftp://" + row.userInfo + (row.userInfo.empty() ? "" : "@") +
                                "127.0.0.1:" + std::to_string(server.Port()) + row.path;
        const Outcome outcome = Check(url);
        EXPECT_EQ(outcome.error, row.error);
        std::vector<std::string> sent;
        for (const auto& line : server.Transcript()) {
            if (line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0 ||
                line.rfind("CWD", 0) == 0 || line.rfind("DELE", 0) == 0)
                sent.push_back(line);
        }
        EXPECT_EQ(sent, row.sent);
    }
}

// An empty listing is believed only when another command lists nothing either;
// with nothing to confirm it by, it stands.
TEST_F(FaultServer, ConfirmsAnEmptyListingByAnotherCommandWhenAsked) {
    const auto serve = [](const std::vector<std::string>& lines) {
        return [lines](Session& s, auto&) { s.ServeListing(lines); };
    };
    const auto refuse = [](Session& s, auto&) { s.Reply("500 not understood"); };
    const Script emptyNames = {{"NLST", serve({})}};
    const struct {
        const char* name;
        Script script;
        bool confirm;
        std::optional<std::string> error;
        std::vector<std::string> names;
        std::vector<std::string> commands;
    } rows[] = {
        {"not asked", emptyNames, false, std::nullopt, {}, {"NLST"}},
        {"LIST empty as well",
         {{"NLST", serve({})}, {"LIST", serve({"total 0"})}},
         true,
         std::nullopt,
         {},
         {"NLST", "LIST"}},
        {"LIST shows what NLST left out",
         {{"NLST", serve({})},
          {"LIST", serve({"-rw-r--r-- 1 a a 0 Jan 1 2024 alpha",
                          "-rw-r--r-- 1 a a 0 Jan 1 2024 beta gamma"})}},
         true,
         std::nullopt,
         TwoNames,
         {"NLST", "LIST"}},
        {"LIST of no known style",
         {{"NLST", serve({})}, {"LIST", serve({"alpha"})}},
         true,
         "could not list dir: unrecognised listing",
         {},
         {"NLST", "LIST"}},
        {"LIST refused",
         {{"NLST", serve({})}, {"LIST", [](Session& s, auto&) { s.Reply("550 no"); }}},
         true,
         "could not list dir: 550 no",
         {},
         {"NLST", "LIST"}},
        {"no LIST to ask",
         {{"NLST", serve({})}, {"LIST", refuse}},
         true,
         std::nullopt,
         {},
         {"NLST", "LIST"}},
        {"no NLST to ask",
         {{"NLST", refuse}, {"LIST", serve({"total 0"})}},
         true,
         std::nullopt,
         {},
         {"NLST", "LIST"}},
        {"MLSD lists an empty directory as empty",
         {{"FEAT", [](Session& s, auto&) { s.Reply("211-x\r\n MLST type*;\r\n211 end"); }},
          {"MLSD", serve({"type=cdir; /"})}},
         true,
         std::nullopt,
         {},
         {"MLSD"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ForgetServers();
        FaultFtpServer server(row.script, TwoNames);
        const Outcome outcome = Check(server.Url(), row.confirm);
        EXPECT_EQ(outcome.error, row.error);
        EXPECT_EQ(outcome.names, row.names);
        std::vector<std::string> commands;
        for (const auto& line : server.Transcript()) {
            if (line == "MLSD" || line == "NLST" || line == "LIST")
                commands.push_back(line);
        }
        EXPECT_EQ(commands, row.commands);
        EXPECT_EQ(server.Connections(), 1);
    }
}

// Without MLSD, LIST gives sizes and times where every line has a known style
// and it names what NLST names; otherwise NLST's names stand alone.
TEST_F(FaultServer, ListGivesFactsWhereItNamesWhatNlstNames) {
    const struct {
        const char* name;
        std::vector<std::string> lines;
        ListingSource source;
    } rows[] = {
        {"ls -l",
         {"total 2", "-rw-r--r-- 1 ann staff 5 Jan  1  2024 alpha",
          "drwxr-xr-x 2 ann staff 4096 Dec  7 14:03 beta gamma"},
         ListingSource::Long},
        {"DOS",
         {"01-01-24  02:03PM                    5 alpha",
          "12-07-26  10:00AM       <DIR>          beta gamma"},
         ListingSource::Long},
        {"a line of no style",
         {"-rw-r--r-- 1 ann staff 5 Jan  1  2024 alpha", "?? beta gamma"},
         ListingSource::Names},
        {"other names", {"-rw-r--r-- 1 ann staff 5 Jan  1  2024 alpha"}, ListingSource::Names},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ForgetServers();
        test::FaultFtpServer server(
            {{"LIST", [lines = row.lines](Session& s, auto&) { s.ServeListing(lines); }}},
            TwoNames);
        const FolderListing outcome = ListDirectory(Url(server.Url("/")), false, nullptr);
        ASSERT_TRUE(outcome.Listed) << outcome.Listed.error().Message;
        const Listing& listed = *outcome.Listed;
        EXPECT_EQ(listed.Names(), TwoNames);
        EXPECT_EQ(listed.Source, row.source);
        if (row.source != ListingSource::Long)
            continue;
        EXPECT_EQ(listed.Entries[0].Size, 5u);
        EXPECT_EQ(listed.Entries[0].Type, EntryType::File);
        EXPECT_EQ(listed.Entries[1].Type, EntryType::Folder);
        // Trusted now: the next check of this server asks LIST alone.
        const std::size_t sent = server.Transcript().size();
        ASSERT_TRUE(ListDirectory(Url(server.Url("/")), false, nullptr).Listed);
        const auto transcript = server.Transcript();
        EXPECT_EQ(std::count(transcript.begin() + static_cast<std::ptrdiff_t>(sent),
                             transcript.end(), "NLST"),
                  0);
    }
}
