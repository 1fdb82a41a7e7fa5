#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "ftp/UrlFileListChecker.h"
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
    subs += checker.Ready.Connect([&] {
        ++raised;
        outcome.cut = checker.IsListingCut();
        for (int i = 1; i <= checker.GetFilesCount(); ++i)
            outcome.names.push_back(checker.GetFile(i));
    });
    subs += checker.Error.Connect([&](const std::string& message) {
        ++raised;
        outcome.error = message;
        EXPECT_EQ(checker.GetFilesCount(), 0);
    });
    checker.CheckURL(url);
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
    const Script mlsd = {
        {"FEAT", [](Session& s, auto&) { s.Reply("211-x\r\n MLST type*;\r\n211 end"); }}};
    const auto with = [](Script script, const Script& more) {
        script.insert(more.begin(), more.end());
        return script;
    };
    const struct {
        const char* name;
        Script script;
        std::optional<std::string> error; // nullopt: Ready with `names`
        std::vector<std::string> names;
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
        {"endless reply line",
         {{"", [&](Session& s, auto&) { s.Send("220 " + endless); }}},
         "could not connect: malformed reply",
         {}},
        {"NUL in a reply",
         {{"", [](Session& s, auto&) { s.Send(std::string("220 a\0b\r\n", 9)); }}},
         "could not connect: malformed reply",
         {}},
        {"silent server",
         {{"", [](Session& s, auto&) { s.GoSilent(); }}},
         "could not connect: no reply in 400 ms",
         {}},
        {"busy server, multi-line refusal cut to one line",
         {{"", [](Session& s, auto&) { s.Reply("421-Too many users\r\n421 \x1b[1mtry\tlater"); }}},
         "could not connect: 421 Too many users [1mtry later",
         {}},
        {"silent after the listing command",
         {{"NLST", [](Session& s, auto&) { s.GoSilent(); }}},
         "could not list dir: no reply in 400 ms",
         {}},
        {"refused login",
         {{"PASS", [](Session& s, auto&) { s.Reply("530 Login incorrect."); }}},
         "could not connect: 530 Login incorrect.",
         {}},
        {"missing directory",
         {{"CWD", [](Session& s, auto&) { s.Reply("550 no such dir"); }}},
         "could not change dir: 550 no such dir",
         {},
         "/missing",
         {"CWD /missing"}},
        // NLST's 450/550 may mean "no files"; LIST settles it.
        {"450 to NLST, LIST refused",
         {{"NLST", [](Session& s, auto&) { s.Reply("450 try later"); }}},
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
         "could not list dir: 550 No files found",
         {}},
        {"550 to NLST, LIST empty",
         {{"NLST", [](Session& s, auto&) { s.Reply("550 No files found"); }},
          {"LIST", [](Session& s, auto&) { s.ServeListing({"total 0"}); }}},
         std::nullopt,
         {}},
        {"550 to MLSD",
         with(mlsd, {{"MLSD", [](Session& s, auto&) { s.Reply("550 Permission denied."); }}}),
         "could not list dir: 550 Permission denied.",
         {},
         "/",
         {"MLSD"},
         {"NLST", "LIST"}},
        {"450 to MLSD",
         with(mlsd, {{"MLSD", [](Session& s, auto&) { s.Reply("450 try later"); }}}),
         "could not list dir: 450 try later",
         {}},
        {"MLSD unknown after all, NLST works",
         with(mlsd, {{"MLSD", [](Session& s, auto&) { s.Reply("500 unknown command"); }}}),
         std::nullopt,
         TwoNames,
         "/",
         {"MLSD", "NLST"}},
        {"other refusal of the listing",
         {{"NLST", [](Session& s, auto&) { s.Reply("501 bad"); }}},
         "could not list dir: 501 bad",
         {}},
        {"425 after 150",
         {{"NLST", [](Session& s, auto&) { s.Reply("150 go\r\n425 cannot open"); }}},
         "could not list dir: 425 cannot open",
         {}},
        {"426 after 150",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "alpha\r\n");
               s.CloseData();
               s.Reply("426 aborted");
           }}},
         "could not list dir: 426 aborted",
         {}},
        {"data connection never made, not even passive",
         {{"NLST", [](Session& s, auto&) { s.Reply("150 go"); }}},
         "could not list dir: data stalled for 400 ms",
         {}},
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
         "could not list dir: data connection broken",
         {}},
        {"control lost mid-listing",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "alpha\r\n");
               s.CloseData();
               s.CloseControl();
           }}},
         "could not list dir: connection closed by the server",
         {}},
        {"trickling data ends at the overall limit",
         {{"NLST",
           [](Session& s, auto&) {
               StartListing(s, "");
               for (int i = 0; i < 80 && s.SendData("a"); ++i)
                   std::this_thread::sleep_for(100ms);
           }}},
         "could not list dir: timed out after 1500 ms",
         {}},
        {"a flood of 1xx replies",
         {{"NLST",
           [](Session& s, auto&) {
               for (int i = 0; i < 500; ++i)
                   s.Reply("120 wait");
           }}},
         "could not list dir: more than 100 preliminary replies",
         {}},
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
         {{"PORT", [](Session& s, auto&) { s.Reply("500 no active mode"); }}},
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
               s.ServeListing({"type=cdir;perm=el; /", "type=pdir; ..",
                               "type=file;size=1;  two  spaces ", "Type=Dir;x=1; sub;dir",
                               "type=file; " + std::string(1000, 'L'), "garbage-without-space"});
           }}},
         std::nullopt,
         {" two  spaces ", "sub;dir", std::string(1000, 'L')},
         "/",
         {"OPTS UTF8 ON", "MLSD"},
         {"NLST", "OPTS MLST"}},
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

TEST_F(FaultServer, ConfirmsAnEmptyListingInTheSameSessionWhenAsked) {
    const struct {
        bool confirm;
        bool secondHasNames;
        std::vector<std::string> names;
        int listings;
    } rows[] = {
        {false, true, {}, 1},
        {true, true, TwoNames, 2},
        {true, false, {}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.confirm << row.secondHasNames);
        FaultFtpServer server({{"NLST", [&](Session& s, auto&) {
                                    s.ServeListing(s.Count("NLST") == 2 && row.secondHasNames
                                                       ? TwoNames
                                                       : std::vector<std::string>{});
                                }}});
        const Outcome outcome = Check(server.Url(), row.confirm);
        EXPECT_EQ(outcome.error, std::nullopt);
        EXPECT_EQ(outcome.names, row.names);
        const auto transcript = server.Transcript();
        EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "NLST"), row.listings);
        EXPECT_EQ(server.Connections(), 1);
    }
}
