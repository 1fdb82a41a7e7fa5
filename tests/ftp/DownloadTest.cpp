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

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ornbrook;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::PyFtpServer;
using ornbrook::test::ServerTls;
using ornbrook::test::TestCertificates;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

template <typename T> std::string Why(const Result<T>& result) {
    return result ? std::string() : result.error().Message;
}

std::optional<ErrorKind> KindOf(const Result<SavedFile>& result) {
    return result ? std::nullopt : std::optional(result.error().Kind);
}

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
        DownloadRequest request{Url(url), {name}};
        request.Folder = folder_;
        const FolderListing listed = ListDirectory(Url(url), false, nullptr);
        EXPECT_EQ(Why(listed.Listed), "");
        for (const ListedEntry& entry : listed.Listed.value().Entries) {
            if (entry.Name == name) {
                request.Size = entry.Size;
                request.Modified = entry.Modified;
            }
        }
        return request;
    }

    Result<SavedFile> Run(const DownloadRequest& request) {
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
        {{"line\nbreak"}, "refused \"line\nbreak\": a name with a control character in it"},
        {{"del\x7f"}, "refused \"del\x7f\": a name with a control character in it"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Why(JudgeRemotePath(row.path)), row.refusal) << JoinedPath(row.path);
}

TEST(DownloadTarget, PartialAndNumberedNames) {
    const struct {
        const char* target;
        const char* partial;
        const char* second;
    } rows[] = {
        {"report.pdf", ".report.pdf.ornbrook-part", "report (2).pdf"},
        {"archive.tar.gz", ".archive.tar.gz.ornbrook-part", "archive.tar (2).gz"},
        {"README", ".README.ornbrook-part", "README (2)"},
        {".profile", "..profile.ornbrook-part", ".profile (2)"},
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

    const Result<SavedFile> first = Run(request);
    ASSERT_TRUE(first) << Why(first);
    EXPECT_FALSE(first->AlreadyThere);
    EXPECT_EQ(first->SavedAs, folder_ + "/data.bin");
    EXPECT_EQ(ReadAll(first->SavedAs), content);
    EXPECT_FALSE(fs::exists(folder_ + "/.data.bin.ornbrook-part"));
    const auto local = LocalFileFacts(first->SavedAs);
    ASSERT_TRUE(local);
    EXPECT_TRUE(SameListedTime(request.Modified, local->Modified, std::time(nullptr)));

    const Result<SavedFile> again = Run(request);
    ASSERT_TRUE(again) << Why(again);
    EXPECT_TRUE(again->AlreadyThere);
    EXPECT_EQ(again->SavedAs, first->SavedAs);

    // A different file of the same name stays as it is.
    WriteAll(folder_ + "/other.txt", "mine");
    server.AddFile("sub/other.txt", "theirs");
    const Result<SavedFile> beside = Run(Listed(server.Url("/sub"), "other.txt"));
    ASSERT_TRUE(beside) << Why(beside);
    EXPECT_EQ(beside->SavedAs, folder_ + "/other (2).txt");
    EXPECT_EQ(ReadAll(folder_ + "/other.txt"), "mine");
    EXPECT_EQ(ReadAll(beside->SavedAs), "theirs");

    // A hostile name is refused before anything is asked of the server.
    DownloadRequest hostile = request;
    hostile.Path = {"..", "escaped.bin"};
    const Result<SavedFile> refused = Run(hostile);
    EXPECT_EQ(KindOf(refused), ErrorKind::Invalid);
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

    const Result<SavedFile> resumed = Run(request);
    ASSERT_TRUE(resumed) << Why(resumed);
    EXPECT_EQ(ReadAll(resumed->SavedAs), partial + content.substr(partial.size()));

    // A partial file of another file (or none to resume) starts over.
    WriteAll(folder_ + "/.big.bin.ornbrook-part", partial);
    fs::remove(resumed->SavedAs);
    request.Resume = false;
    const Result<SavedFile> over = Run(request);
    ASSERT_TRUE(over) << Why(over);
    EXPECT_EQ(ReadAll(over->SavedAs), content);
}

TEST_F(Download, OverTlsWithTheSameTrust) {
    TestCertificates pki;
    ::setenv("SSL_CERT_FILE", pki.CaFile().c_str(), 1);
    const auto issued = pki.Issue("trusted", "IP:127.0.0.1,DNS:localhost");
    PyFtpServer server(
        ServerTls{ServerTls::Mode::Explicit, issued.CertificateFile, issued.KeyFile});
    const std::string content = Bytes(100'000, 3);
    server.AddFile("secret.bin", content);
    const Result<SavedFile> result = Run(Listed(server.UserUrl(), "secret.bin"));
    ::unsetenv("SSL_CERT_FILE");
    ASSERT_TRUE(result) << Why(result);
    EXPECT_EQ(ReadAll(result->SavedAs), content);
}

// The scripted server: RETR serves `content` from the last REST offset, cut
// after `cutAt` bytes when that is set, and FEAT offers REST STREAM or not.
FaultFtpServer::Script Serving(const std::string& content, bool rest, std::size_t cutAt = 0) {
    // Each connection is served on a thread of its own.
    auto offset = std::make_shared<std::atomic<std::size_t>>(0);
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
        std::string part = content.substr(std::min<std::size_t>(*offset, content.size()));
        if (cutAt > 0)
            part.resize(std::min(part.size(), cutAt));
        s.SendData(part);
        s.CloseData();
        s.Reply("226 done");
        *offset = 0;
    };
    return script;
}

// The one with REST also answers MDTM: the saved file gets its exact time rather
// than the listing's minute in the server's zone.
TEST_F(Download, CutShortFailsThenResumesOrStartsOverAsTheServerAllows) {
    const std::string content = Bytes(50'000, 4);
    for (const bool rest : {true, false}) {
        SCOPED_TRACE(rest ? "REST STREAM" : "no REST");
        ForgetServers();
        DownloadRequest request{Url(), {"file.bin"}, content.size()};
        request.Folder = folder_;
        request.Modified = {ListedTime::Resolution::Minute, 2024, 1, 2, 12, 30, 0, false};
        {
            FaultFtpServer cut(Serving(content, rest, 20'000));
            request.Watched = Url(cut.Url());
            const Result<SavedFile> first = Run(request);
            EXPECT_EQ(Why(first), "could not download: the server sent 20000 bytes of 50000");
            EXPECT_FALSE(fs::exists(folder_ + "/file.bin"));
            kept_.Drop();
        }
        ForgetServers();
        FaultFtpServer::Script script = Serving(content, rest);
        if (rest)
            script["MDTM"] = [](FaultFtpServer::Session& s, const std::string& name) {
                s.Reply(name == "file.bin" ? "213 20240102030405.123" : "550 no");
            };
        FaultFtpServer whole(script);
        request.Watched = Url(whole.Url());
        const Result<SavedFile> second = Run(request);
        ASSERT_TRUE(second) << Why(second);
        EXPECT_EQ(ReadAll(second->SavedAs), content);
        EXPECT_EQ(LocalFileFacts(second->SavedAs)->Modified,
                  rest ? 1704164645 : *ListedSeconds(request.Modified, std::time(nullptr)));
        bool restSent = false;
        for (const std::string& line : whole.Transcript())
            restSent = restSent || line == "REST 20000";
        EXPECT_EQ(restSent, rest);
        EXPECT_TRUE(fs::remove(second->SavedAs));
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
    DownloadRequest request{Url(server.Url()), {"slow.bin"}, 1000};
    request.Folder = folder_;
    request.Idle = 200ms;
    const Result<SavedFile> idle = Run(request);
    EXPECT_EQ(Why(idle), "could not download: no data for 200 ms");
    // What came stays for the next attempt.
    EXPECT_EQ(ReadAll(folder_ + "/.slow.bin.ornbrook-part"), "a beginning");

    request.Idle = 60s;
    StopSignal stop;
    stop.Stop();
    const Result<SavedFile> stopped = DownloadJob(request).Run(&stop, kept_, {});
    EXPECT_EQ(KindOf(stopped), ErrorKind::Stopped) << Why(stopped);
}

// Links planted in the download folder: nothing outside it is written, a
// planted partial file is left alone, and a link in the file's way refuses it.
TEST_F(Download, NeverWritesThroughALinkPlantedInTheFolder) {
    const std::string content = "the server's bytes";
    FaultFtpServer server(Serving(content, true));
    const std::string outside = folder_ + "-outside", secret = outside + "/secret";
    const std::string link = folder_ + "-link";
    const struct {
        const char* what;
        std::function<void()> plant;
        std::vector<std::string> path;
        const char* refusal;
    } rows[] = {
        {"a hard link at the partial file",
         [&] { fs::create_hard_link(secret, folder_ + "/.d.txt.ornbrook-part"); },
         {"d.txt"},
         ""},
        {"a link at the partial file",
         [&] { fs::create_symlink(secret, folder_ + "/.d.txt.ornbrook-part"); },
         {"d.txt"},
         ""},
        {"a link at a subfolder",
         [&] { fs::create_directory_symlink(outside, folder_ + "/sub"); },
         {"sub", "d.txt"},
         "refused \"sub/d.txt\": \"sub\" is a link"},
        {"a link at the target",
         [&] { fs::create_symlink(secret, folder_ + "/d.txt"); },
         {"d.txt"},
         "refused \"d.txt\": \"d.txt\" is a link"},
        {"the folder itself a link",
         [&] { fs::create_directory_symlink(folder_, link); },
         {"sub", "d.txt"},
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        for (const std::string& made : {folder_, outside, link})
            fs::remove_all(made);
        fs::create_directories(folder_);
        fs::create_directories(outside);
        WriteAll(secret, "precious");
        row.plant();
        DownloadRequest request{Url(server.Url()), row.path, content.size()};
        request.Folder = fs::exists(link) ? link : folder_;
        const Result<SavedFile> result = Run(request);
        EXPECT_EQ(Why(result), row.refusal);
        EXPECT_EQ(KindOf(result) == ErrorKind::Invalid, *row.refusal != 0);
        EXPECT_EQ(ReadAll(secret), "precious");
        EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
        if (*row.refusal == 0) {
            EXPECT_EQ(result->SavedAs, request.Folder + "/" + JoinedPath(row.path));
            EXPECT_EQ(ReadAll(result->SavedAs), content);
            EXPECT_EQ(fs::hard_link_count(result->SavedAs), 1u);
        }
    }
    fs::remove_all(outside);
    fs::remove_all(link);
}

// A server that sends more than it listed is cut off at the listed size, and
// the file keeps no more and is not named: a file that grew, a flood.
TEST_F(Download, StopsAtTheListedSize) {
    PyFtpServer real;
    real.AddFile("grown.bin", Bytes(100'000, 5));
    FaultFtpServer flooding({{"RETR", [](FaultFtpServer::Session& s, const std::string&) {
                                  s.Reply("150 here it comes");
                                  s.OpenData();
                                  while (s.SendData(std::string(65536, 'f'))) {
                                  }
                                  s.CloseData();
                              }}});
    for (const auto& [url, name] :
         {std::pair{real.Url(), "grown.bin"}, {flooding.Url(), "flood"}}) {
        DownloadRequest request{Url(url), {name}, 10};
        request.Folder = folder_;
        const Result<SavedFile> result = Run(request);
        EXPECT_EQ(KindOf(result), ErrorKind::Overrun);
        EXPECT_EQ(Why(result), "could not download: the server sent more than the listed 10 bytes");
        EXPECT_EQ(fs::file_size(folder_ + "/." + name + ".ornbrook-part"), 10u);
        EXPECT_FALSE(fs::exists(folder_ + "/" + name));
        kept_.Drop();
    }
}

// Runs body in a child process that has a tmpfs of `bytes` at folder, in a
// mount namespace of its own (and a user namespace where that takes one).
// What body returns comes back; none where no such file system can be made.
std::optional<std::string> InSmallFileSystem(const std::string& folder, std::size_t bytes,
                                             const std::function<std::string()>& body) {
    int ends[2];
    if (::pipe(ends) != 0)
        return std::nullopt;
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        bool ok = ::unshare(CLONE_NEWNS) == 0;
        if (!ok && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
            std::ofstream("/proc/self/setgroups") << "deny";
            std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
            std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
            ok = true;
        }
        const std::string size = "size=" + std::to_string(bytes);
        ok = ok && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
             ::mount("ornbrook-test", folder.c_str(), "tmpfs", 0, size.c_str()) == 0;
        const std::string said = ok ? "+" + body() : "";
        for (std::size_t done = 0; done < said.size();) {
            const ssize_t n = ::write(ends[1], said.data() + done, said.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    ::close(ends[0]);
    ::waitpid(child, nullptr, 0);
    if (said.empty())
        return std::nullopt;
    return said.substr(1);
}

// A file that cannot fit is not begun; a disk that fills meanwhile fails the
// download, which is not begun again until there is room, and then resumes.
TEST_F(Download, ASmallFileSystemIsNeverFilled) {
    const std::string content = Bytes(600'000, 6);
    FaultFtpServer server(Serving(content, true));
    const auto said = InSmallFileSystem(folder_, 1024 * 1024, [&] {
        std::string lines;
        DownloadRequest big{Url(server.Url()), {"big.bin"}, 2'000'000};
        big.Folder = folder_;
        lines += Why(Run(big)) + "\n";
        lines += fs::exists(folder_ + "/.big.bin.ornbrook-part") ? "a partial file\n" : "none\n";
        DownloadRequest request{Url(server.Url()), {"file.bin"}, content.size()};
        request.Folder = folder_;
        bool filled = false;
        const auto fill = [&](std::uint64_t) {
            if (!std::exchange(filled, true)) {
                std::ofstream filler(folder_ + "/filler", std::ios::binary);
                while (filler.write(content.data(), 4096)) {
                }
            }
        };
        lines += Why(DownloadJob(request).Run(nullptr, kept_, fill)) + "\n";
        const std::string full = Why(Run(request));
        lines += full.substr(0, full.find(':', 12)) + "\n";
        fs::remove(folder_ + "/filler");
        const Result<SavedFile> resumed = Run(request);
        lines += resumed && ReadAll(resumed->SavedAs) == content ? "saved" : Why(resumed);
        return lines;
    });
    if (!said)
        GTEST_SKIP() << "no small file system can be made here (a mount namespace is needed)";
    EXPECT_EQ(*said, "not started: not enough space in " + folder_ +
                         ": 2000000 bytes to fetch, 1048576 free, 10485 kept free\n"
                         "none\n"
                         "could not download: cannot write the local file: no space left on "
                         "device\n"
                         "not started: not enough space in " +
                         folder_ + "\nsaved");
    // Not asked for while the disk was full; resumed where it broke off.
    const std::vector<std::string> transcript = server.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "RETR file.bin"), 2);
    EXPECT_TRUE(std::any_of(transcript.begin(), transcript.end(), [](const std::string& line) {
        return line.rfind("REST ", 0) == 0 && line != "REST 0";
    }));
}

} // namespace
