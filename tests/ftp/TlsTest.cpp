// FTP over TLS: pyftpdlib as a real TLS server (explicit and implicit), with
// certificates made here, and the scripted server for faults of the data
// connection that real servers do not make on demand.
#include "ftp/CertificateTrust.h"
#include "ftp/DirectoryListing.h"
#include "ftp/FtpSettings.h"
#include "ftp/ServerMemory.h"
#include "tests/fixtures/FaultFtpServer.h"
#include "tests/fixtures/PyFtpServer.h"
#include "tests/fixtures/TestCertificates.h"
#include "tests/support/TempProgramDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

using namespace ornbrook;
using ornbrook::test::FaultFtpServer;
using ornbrook::test::PyFtpServer;
using ornbrook::test::ServerTls;
using ornbrook::test::TestCertificates;
using namespace std::chrono_literals;

namespace {

using Mode = ServerTls::Mode;

// The listing's names sorted, or the error.
struct Outcome {
    std::optional<std::string> error;
    std::vector<std::string> names;
    std::optional<CertificateFacts> certificate;
};

Outcome Check(const std::string& url) {
    FolderListing listed = ListDirectory(Url(url), false, nullptr);
    Outcome outcome{std::nullopt, {}, std::move(listed.Certificate)};
    if (listed.Listed)
        outcome.names = listed.Listed->Names();
    else
        outcome.error = listed.Listed.error().Message;
    std::sort(outcome.names.begin(), outcome.names.end());
    return outcome;
}

std::string Untrusted(const std::string& reason, const std::string& fingerprint) {
    return "could not connect: certificate not trusted (" + reason + ") SHA-256 " + fingerprint;
}

// One CA for the whole program; checks trust it through SSL_CERT_FILE, as they
// would trust the system's. The trust file lives beside the certificates.
class Tls : public testing::Test {
protected:
    static void SetUpTestSuite() {
        FtpTimeouts t;
        t.Connect = t.Reply = t.DataConnect = t.DataIdle = 5s;
        SetFtpTimeouts(t);
        pki_ = new TestCertificates();
        ::setenv("SSL_CERT_FILE", pki_->CaFile().c_str(), 1);
        trusted_ =
            new TestCertificates::Issued(pki_->Issue("trusted", "IP:127.0.0.1,DNS:localhost"));
    }
    static void TearDownTestSuite() {
        ::unsetenv("SSL_CERT_FILE");
        SetCertificateTrustFile({});
        delete trusted_;
        delete pki_;
        SetFtpTimeouts({});
    }
    void SetUp() override {
        trustFile_ = pki_->CaFile() + "-trust.dat";
        std::filesystem::remove(trustFile_);
        SetCertificateTrustFile(trustFile_);
    }
    void TearDown() override { ForgetServers(); }

    static ServerTls With(const TestCertificates::Issued& issued, Mode mode = Mode::Explicit) {
        return {mode, issued.CertificateFile, issued.KeyFile};
    }

    static TestCertificates* pki_;
    static TestCertificates::Issued* trusted_;
    std::string trustFile_;
};

TestCertificates* Tls::pki_ = nullptr;
TestCertificates::Issued* Tls::trusted_ = nullptr;

} // namespace

TEST_F(Tls, ListsTheDirectoryExplicitAndImplicitActiveAndPassive) {
    PyFtpServer explicitTls(With(*trusted_));
    PyFtpServer implicitTls(With(*trusted_, Mode::Implicit));
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i)
        expected.push_back("file-" + std::to_string(i) + ".txt");
    std::sort(expected.begin(), expected.end());
    for (const PyFtpServer* server : {&explicitTls, &implicitTls}) {
        for (const auto& name : expected)
            server->AddFile("d/" + name);
    }
    const struct {
        std::string url;
        bool passive;
    } rows[] = {
        {explicitTls.Url("/d/"), false},
        {explicitTls.Url("/d/"), true},
        {explicitTls.UserUrl("/d/"), false},
        {explicitTls.UrlVia("FTPES", "localhost", "/d/"), false},
        {implicitTls.Url("/d/"), false},
        {implicitTls.Url("/d/"), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url + (row.passive ? " passive" : " active"));
        ForgetServers();
        if (row.passive) {
            ServerFacts facts;
            facts.PassiveOnly = true;
            RememberServer("127.0.0.1", explicitTls.Port(), facts);
            RememberServer("127.0.0.1", implicitTls.Port(), facts);
        }
        const Outcome outcome = Check(row.url);
        EXPECT_EQ(outcome.error, std::nullopt);
        EXPECT_EQ(outcome.names, expected);
        EXPECT_EQ(outcome.certificate, std::nullopt);
    }
    // The CA in a hashed directory alone, as systems keep theirs, is trusted too.
    ::setenv("SSL_CERT_FILE", "/nonexistent", 1);
    ::setenv("SSL_CERT_DIR", pki_->CaDir().c_str(), 1);
    EXPECT_EQ(Check(explicitTls.Url("/d/")).error, std::nullopt);
    ::setenv("SSL_CERT_FILE", pki_->CaFile().c_str(), 1);
    ::unsetenv("SSL_CERT_DIR");
    // A plain login at a server that demands TLS suggests the way to it.
    EXPECT_EQ(Check(explicitTls.UrlVia("ftp", "127.0.0.1", "/d/")).error,
              "login refused: 550 SSL/TLS required on the control channel. "
              "(this server wants TLS: try ftpes://)");
    // A plain URL at a port of implicit TLS hears no greeting, and says what that may mean.
    FtpTimeouts shortWait = CurrentFtpTimeouts();
    shortWait.Reply = 300ms;
    SetFtpTimeouts(shortWait);
    EXPECT_EQ(Check(implicitTls.UrlVia("ftp", "127.0.0.1", "/d/")).error,
              "could not connect: no reply in 300 ms (this may be an ftps:// server)");
    shortWait.Reply = 5s;
    SetFtpTimeouts(shortWait);
}

TEST_F(Tls, AnUntrustedCertificateFailsUntilTheUserTrustsIt) {
    const auto self = pki_->SelfSigned("self", "IP:127.0.0.1");
    PyFtpServer server(With(self));
    server.AddFile("in/a.txt");
    const std::string url = server.Url("/in/");
    const std::string where = "127.0.0.1:" + std::to_string(server.Port());

    const Outcome refused = Check(url);
    EXPECT_EQ(refused.error, Untrusted("self-signed", self.Fingerprint));
    ASSERT_TRUE(refused.certificate);
    CertificateFacts facts = *refused.certificate;
    EXPECT_EQ(facts.Server, where);
    EXPECT_EQ(facts.Fingerprint, self.Fingerprint);
    EXPECT_EQ(facts.Subject, "CN=self server");
    EXPECT_EQ(facts.Issuer, "CN=self server");
    EXPECT_EQ(facts.ValidFrom.size(), std::string("2025-01-31 12:00:00 UTC").size());
    EXPECT_FALSE(facts.Changed);
    // What --trust shows is the same certificate, fetched without judging it.
    EXPECT_EQ(*FetchCertificate(Url(url)), facts);

    std::string writeProblem;
    ASSERT_TRUE(StoreCertificateTrust(facts, trustFile_, writeProblem)) << writeProblem;
    EXPECT_EQ(test::ReadBytes(trustFile_), where + " " + self.Fingerprint + "\r\n");
    EXPECT_EQ(Check(url).names, std::vector<std::string>{"a.txt"});

    // Another certificate for the same server: refused, and said to have changed.
    test::WriteBytes(trustFile_,
                     "# kept\r\n" + where + " " + trusted_->Fingerprint + "\r\nother:21 AA:BB\r\n");
    const Outcome changed = Check(url);
    EXPECT_EQ(changed.error, "could not connect: certificate changed, not the one trusted for " +
                                 where + ": SHA-256 " + self.Fingerprint);
    ASSERT_TRUE(changed.certificate);
    EXPECT_TRUE(changed.certificate->Changed);
    // Trusting the new one replaces the old line and keeps the others.
    ASSERT_TRUE(StoreCertificateTrust(*changed.certificate, trustFile_, writeProblem));
    EXPECT_EQ(test::ReadBytes(trustFile_),
              "# kept\r\nother:21 AA:BB\r\n" + where + " " + self.Fingerprint + "\r\n");
    EXPECT_EQ(Check(url).error, std::nullopt);
}

TEST_F(Tls, TheCertificateMustNameTheServer) {
    const auto elsewhere = pki_->Issue("elsewhere", "DNS:ftp.example.invalid,IP:10.1.2.3");
    PyFtpServer server(With(elsewhere));
    server.AddDir("in");
    const std::string port = std::to_string(server.Port());
    EXPECT_EQ(Check(server.Url("/in")).error,
              Untrusted("issued for another address", elsewhere.Fingerprint));
    EXPECT_EQ(Check(server.UrlVia("ftpes", "localhost", "/in")).error,
              Untrusted("issued for another host name", elsewhere.Fingerprint));
    // Trusted by the system, but another certificate is pinned for the server:
    // never swapped silently.
    PyFtpServer good(With(*trusted_));
    good.AddDir("in");
    test::WriteBytes(trustFile_, "127.0.0.1:" + std::to_string(good.Port()) + " " +
                                     elsewhere.Fingerprint + "\r\n");
    const Outcome pinned = Check(good.Url("/in"));
    ASSERT_TRUE(pinned.certificate);
    EXPECT_TRUE(pinned.certificate->Changed);
    EXPECT_EQ(pinned.certificate->Untrusted, "");
    // Trusting a certificate the system vouches for only drops the pin.
    std::string problem;
    ASSERT_TRUE(StoreCertificateTrust(*pinned.certificate, trustFile_, problem));
    EXPECT_EQ(test::ReadBytes(trustFile_), "");
    EXPECT_EQ(Check(good.Url("/in")).error, std::nullopt);
}

TEST_F(Tls, DataConnectionsEndAsTheServerDeserves) {
    FtpTimeouts t;
    t.Connect = 2s;
    t.Reply = t.DataConnect = t.DataIdle = 400ms;
    t.Check = 3s;
    SetFtpTimeouts(t);
    using Session = FaultFtpServer::Session;
    const std::vector<std::string> names = {"alpha", "beta"};
    const struct {
        const char* name;
        Mode mode;
        FaultFtpServer::Script script;
        std::optional<std::string> error; // nullopt: the two names
        int resumedData = 0;
    } rows[] = {
        {"implicit TLS, the data connection resumes the session",
         Mode::Implicit,
         {},
         std::nullopt,
         1},
        {"explicit TLS likewise", Mode::Explicit, {}, std::nullopt, 1},
        {"cut without close_notify before 226",
         Mode::Explicit,
         {{"NLST",
           [](Session& s, auto&) {
               s.Reply("150 go");
               s.OpenData();
               s.SendData("alpha\r\nbe");
               s.CutData();
               std::this_thread::sleep_for(200ms);
               s.Reply("226 done");
           }}},
         "could not list dir: data connection cut short (no TLS close)",
         1},
        {"226 before the cut: the server vouches for the whole listing",
         Mode::Explicit,
         {{"NLST",
           [](Session& s, auto&) {
               s.Send("150 go\r\n226 done\r\n");
               s.OpenData();
               s.SendData("alpha\r\nbeta\r\n");
               s.CutData();
           }}},
         std::nullopt,
         1},
        {"AUTH TLS refused: no login in the clear",
         Mode::Explicit,
         {{"AUTH", [](Session& s, auto&) { s.Reply("502 not here"); }}},
         "could not connect: no TLS: 502 not here"},
        {"PROT P refused: no clear data connection",
         Mode::Explicit,
         {{"PROT", [](Session& s, auto&) { s.Reply("536 not that"); }}},
         "could not connect: 536 not that"},
        {"234 but no handshake",
         Mode::Explicit,
         {{"AUTH",
           [](Session& s, auto&) {
               s.Reply("234 go ahead");
               s.GoSilent();
           }}},
         "could not connect: no TLS handshake in 400 ms"},
        {"a reply smuggled in after 234",
         Mode::Explicit,
         {{"AUTH", [](Session& s, auto&) { s.Reply("234 go ahead\r\n230 logged in"); }}},
         "could not connect: unexpected reply before the TLS handshake"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FaultFtpServer server(row.script, names, With(*trusted_, row.mode));
        const Outcome outcome = Check(server.Url());
        EXPECT_EQ(outcome.error, row.error);
        EXPECT_EQ(outcome.names, row.error ? std::vector<std::string>{} : names);
        EXPECT_EQ(server.ResumedDataConnections(), row.resumedData);
        // Nothing of the login ever goes out unprotected: USER only after TLS.
        const auto transcript = server.Transcript();
        const auto user = std::find_if(transcript.begin(), transcript.end(),
                                       [](const auto& line) { return line.rfind("USER", 0) == 0; });
        if (row.mode == Mode::Explicit && user != transcript.end()) {
            EXPECT_NE(std::find(transcript.begin(), user, "AUTH TLS"), user);
        }
        if (std::string(row.name).find("refused") != std::string::npos) {
            EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "NLST"), 0);
        }
    }
}
