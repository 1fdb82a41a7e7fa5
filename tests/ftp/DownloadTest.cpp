// Downloads as the check engine runs them: exact, resumable, never outside
// their folder and never over a file that is there.
#include "check/DownloadJob.h"
#include "check/DownloadTarget.h"
#include "ftp/DirectoryListing.h"
#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "ftp/StopSignal.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/fixtures/TestCertificates.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

using namespace ornbrook;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::PyFtpServer;
using ornbrook::test::ServerTls;
using ornbrook::test::TestCertificates;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    // Line ends a text transfer would change.
    bytes.replace(0, 4, "\r\n\n\r");
    return bytes;
}

std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

class Download : public testing::Test {
protected:
    void SetUp() override {
        ForgetServers();
        FtpTimeouts t;
        t.Connect = t.Reply = t.DataConnect = t.DataIdle = 5s;
        SetFtpTimeouts(t);
        char pattern[] = "/tmp/ornbrook-download-XXXXXX";
        folder_ = ::mkdtemp(pattern);
    }
    void TearDown() override {
        fs::remove_all(folder_);
        SetFtpTimeouts({});
        ForgetServers();
    }

    // The request for a file as the server lists it now.
    DownloadRequest Listed(const std::string& url, const std::string& name) const {
        DownloadRequest request{url, {name}};
        request.Folder = folder_;
        const ListingOutcome listed = ListDirectory(url, false, nullptr);
        EXPECT_TRUE(listed.Ok) << listed.Message;
        for (const ListedEntry& entry : listed.Listed.Entries) {
            if (entry.Name == name) {
                request.Size = entry.Size;
                request.Modified = entry.Modified;
            }
        }
        return request;
    }

    DownloadResult Run(const DownloadRequest& request) {
        return DownloadJob(request).Run(nullptr, kept_, {});
    }

    std::string folder_;
    KeptLogins kept_;
};

TEST(DownloadTarget, NamesFromTheServerAreJudgedSegmentBySegment) {
    const struct {
        std::vector<std::string> path;
        const char* refusal;
    } rows[] = {
        {{"report.pdf"}, ""},
        {{"sub", "deeper", "a b.txt"}, ""},
        {{" .hidden "}, ""},
        {{"..."}, ""},
        {{}, "refused a file without a name"},
        {{".."}, "refused \"..\": a name that means a folder"},
        {{"."}, "refused \".\": a name that means a folder"},
        {{"sub", "..", "x"}, "refused \"sub/../x\": a name that means a folder"},
        {{""}, "refused \"\": an empty name"},
        {{"sub", "", "x"}, "refused \"sub//x\": an empty name"},
        {{"/etc/passwd"}, "refused \"/etc/passwd\": a name with a slash in it"},
        {{"../x"}, "refused \"../x\": a name with a slash in it"},
        {{"a\\..\\b"}, "refused \"a\\..\\b\": a name with a slash in it"},
        {{"bell\a"}, "refused \"bell\\x07\": a name with a control character in it"},
        {{"line\nbreak"}, "refused \"line\\x0abreak\": a name with a control character in it"},
        {{"del\x7f"}, "refused \"del\\x7f\": a name with a control character in it"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(JudgeRemotePath(row.path), row.refusal) << JoinedPath(row.path);
}

TEST(DownloadTarget, PartialAndNumberedNames) {
    const struct {
        const char* target;
        const char* partial;
        const char* second;
    } rows[] = {
        {"/d/report.pdf", "/d/.report.pdf.ornbrook-part", "/d/report (2).pdf"},
        {"/d/archive.tar.gz", "/d/.archive.tar.gz.ornbrook-part", "/d/archive.tar (2).gz"},
        {"/d/README", "/d/.README.ornbrook-part", "/d/README (2)"},
        {"/d/.profile", "/d/..profile.ornbrook-part", "/d/.profile (2)"},
        {"/d.x/plain", "/d.x/.plain.ornbrook-part", "/d.x/plain (2)"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PartialFileName(row.target), row.partial);
        EXPECT_EQ(NumberedName(row.target, 2), row.second);
    }
}

TEST_F(Download, IsExactTakesTheListedTimeAndIsNotFetchedTwice) {
    PyFtpServer server;
    const std::string content = Bytes(300'000, 1);
    server.AddFile("sub/data.bin", content);
    const DownloadRequest request = Listed(server.Url("/sub"), "data.bin");
    ASSERT_EQ(request.Size, content.size());

    const DownloadResult first = Run(request);
    ASSERT_TRUE(first.Ok) << first.Message;
    EXPECT_FALSE(first.AlreadyThere);
    EXPECT_EQ(first.SavedAs, folder_ + "/data.bin");
    EXPECT_EQ(ReadAll(first.SavedAs), content);
    EXPECT_FALSE(fs::exists(folder_ + "/.data.bin.ornbrook-part"));
    const auto local = LocalFileFacts(first.SavedAs);
    ASSERT_TRUE(local);
    EXPECT_TRUE(SameListedTime(request.Modified, local->Modified, std::time(nullptr)));

    const DownloadResult again = Run(request);
    EXPECT_TRUE(again.Ok && again.AlreadyThere) << again.Message;
    EXPECT_EQ(again.SavedAs, first.SavedAs);

    // A different file of the same name stays as it is.
    WriteAll(folder_ + "/other.txt", "mine");
    server.AddFile("sub/other.txt", "theirs");
    const DownloadResult beside = Run(Listed(server.Url("/sub"), "other.txt"));
    ASSERT_TRUE(beside.Ok) << beside.Message;
    EXPECT_EQ(beside.SavedAs, folder_ + "/other (2).txt");
    EXPECT_EQ(ReadAll(folder_ + "/other.txt"), "mine");
    EXPECT_EQ(ReadAll(beside.SavedAs), "theirs");

    // A hostile name is refused before anything is asked of the server.
    DownloadRequest hostile = request;
    hostile.Path = {"..", "escaped.bin"};
    const DownloadResult refused = Run(hostile);
    EXPECT_TRUE(refused.Refused);
    EXPECT_FALSE(fs::exists(fs::path(folder_).parent_path() / "escaped.bin"));
}

TEST_F(Download, ResumesWithRestWhereThePartialFileEnds) {
    PyFtpServer server;
    const std::string content = Bytes(200'000, 2);
    server.AddFile("big.bin", content);
    DownloadRequest request = Listed(server.Url(), "big.bin");
    // Bytes of our own in the partial file: kept only if the server resumed.
    const std::string partial(70'000, 'x');
    WriteAll(folder_ + "/.big.bin.ornbrook-part", partial);

    const DownloadResult resumed = Run(request);
    ASSERT_TRUE(resumed.Ok) << resumed.Message;
    EXPECT_EQ(ReadAll(resumed.SavedAs), partial + content.substr(partial.size()));

    // A partial file of another file (or none to resume) starts over.
    WriteAll(folder_ + "/.big.bin.ornbrook-part", partial);
    fs::remove(resumed.SavedAs);
    request.Resume = false;
    const DownloadResult over = Run(request);
    ASSERT_TRUE(over.Ok) << over.Message;
    EXPECT_EQ(ReadAll(over.SavedAs), content);
}

TEST_F(Download, OverTlsWithTheSameTrust) {
    TestCertificates pki;
    ::setenv("SSL_CERT_FILE", pki.CaFile().c_str(), 1);
    const auto issued = pki.Issue("trusted", "IP:127.0.0.1,DNS:localhost");
    PyFtpServer server(ServerTls{ServerTls::Mode::Explicit, issued.CertificateFile, issued.KeyFile});
    const std::string content = Bytes(100'000, 3);
    server.AddFile("secret.bin", content);
    const DownloadResult result = Run(Listed(server.UserUrl(), "secret.bin"));
    ::unsetenv("SSL_CERT_FILE");
    ASSERT_TRUE(result.Ok) << result.Message;
    EXPECT_EQ(ReadAll(result.SavedAs), content);
}

// The scripted server: RETR serves `content` from the last REST offset, cut
// after `cutAt` bytes when that is set, and FEAT offers REST STREAM or not.
FaultFtpServer::Script Serving(const std::string& content, bool rest, std::size_t cutAt = 0) {
    auto offset = std::make_shared<std::size_t>(0);
    FaultFtpServer::Script script;
    script["FEAT"] = [rest](FaultFtpServer::Session& s, const std::string&) {
        s.Reply(rest ? "211-Features:\r\n REST STREAM\r\n211 End" : "211 no features");
    };
    script["REST"] = [offset](FaultFtpServer::Session& s, const std::string& argument) {
        *offset = std::stoul(argument);
        s.Reply("350 restarting at " + argument);
    };
    script["RETR"] = [=](FaultFtpServer::Session& s, const std::string&) {
        s.Reply("150 here it comes");
        s.OpenData();
        std::string part = content.substr(std::min(*offset, content.size()));
        if (cutAt > 0)
            part.resize(std::min(part.size(), cutAt));
        s.SendData(part);
        s.CloseData();
        s.Reply("226 done");
        *offset = 0;
    };
    return script;
}

TEST_F(Download, CutShortFailsThenResumesOrStartsOverAsTheServerAllows) {
    const std::string content = Bytes(50'000, 4);
    for (const bool rest : {true, false}) {
        SCOPED_TRACE(rest ? "REST STREAM" : "no REST");
        ForgetServers();
        DownloadRequest request{"", {"file.bin"}, content.size()};
        request.Folder = folder_;
        {
            FaultFtpServer cut(Serving(content, rest, 20'000));
            request.Url = cut.Url();
            const DownloadResult first = Run(request);
            EXPECT_FALSE(first.Ok);
            EXPECT_EQ(first.Message, "could not download: the server sent 20000 bytes of 50000");
            EXPECT_FALSE(fs::exists(folder_ + "/file.bin"));
            kept_.Drop();
        }
        ForgetServers();
        FaultFtpServer whole(Serving(content, rest));
        request.Url = whole.Url();
        const DownloadResult second = Run(request);
        ASSERT_TRUE(second.Ok) << second.Message;
        EXPECT_EQ(ReadAll(second.SavedAs), content);
        bool restSent = false;
        for (const std::string& line : whole.Transcript())
            restSent = restSent || line == "REST 20000";
        EXPECT_EQ(restSent, rest);
        EXPECT_TRUE(fs::remove(second.SavedAs));
        kept_.Drop();
    }
}

TEST_F(Download, EndsWhenNoByteComesForTheIdleLimitOrWhenStopped) {
    FaultFtpServer::Script script;
    script["RETR"] = [](FaultFtpServer::Session& s, const std::string&) {
        s.Reply("150 here it comes");
        s.OpenData();
        s.SendData("a beginning");
        s.ClientLeft(3000);
    };
    FaultFtpServer server(script);
    DownloadRequest request{server.Url(), {"slow.bin"}, 1000};
    request.Folder = folder_;
    request.Idle = 200ms;
    const DownloadResult idle = Run(request);
    EXPECT_EQ(idle.Message, "could not download: no data for 200 ms");
    // What came stays for the next attempt.
    EXPECT_EQ(ReadAll(folder_ + "/.slow.bin.ornbrook-part"), "a beginning");

    request.Idle = 60s;
    StopSignal stop;
    stop.Stop();
    const DownloadResult stopped = DownloadJob(request).Run(&stop, kept_, {});
    EXPECT_FALSE(stopped.Ok);
    EXPECT_NE(stopped.Message.find("stopped"), std::string::npos) << stopped.Message;
}

} // namespace
