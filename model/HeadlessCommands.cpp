#include "model/HeadlessCommands.h"

#include "app/FileIO_Code.h"
#include "ftp/CertificateTrust.h"
#include "ftp/DirectoryListing.h"
#include "ftp/FtpModule.h"
#include "model/CheckSettings.h"
#include "model/MainInterface.h"
#include "model/TrustedCertificates.h"
#include "model/UrlFileList.h"

#include <exception>
#include <ostream>

namespace ornbrook {

namespace {

enum Status { Done = 0, Failed = 1, Usage = 2, FileTrouble = 3 };

struct Command {
    const char* name;
    bool takesUrl;
};

constexpr Command Commands[] = {
    {"--list", false},    {"--check", false}, {"--add", true},   {"--remove", true},
    {"--refresh", false}, {"--trust", true},  {"--help", false},
};

// One block: the URL, "ok" or its error, new names "+ ", gone names "- ", a blank line.
void PrintBlock(std::ostream& out, const UrlFileList& list) {
    out << list.URL() << '\n' << (list.IsError() ? list.GetErrorMsg() : "ok") << '\n';
    for (const std::int32_t state : {FileStateNew, FileStateGone}) {
        for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i) {
            if (list.GetFileState(i) == state)
                out << (state == FileStateNew ? "+ " : "- ") << list.GetFileName(i) << '\n';
        }
    }
    out << '\n';
}

int UsageError(std::ostream& err, const std::string& problem) {
    err << "ornbrook: " << problem << '\n' << HeadlessUsage();
    return Usage;
}

// Shows the server's certificate and trusts it for that server, whatever the
// system's certificates say: the user asked for it by name.
int Trust(const std::string& url, std::ostream& out, std::ostream& err) {
    std::string problem;
    auto facts = FetchCertificate(url, problem);
    if (!facts) {
        err << "ornbrook: " << problem << '\n';
        return Failed;
    }
    JudgeCertificate(*facts, TrustedCertificatesFileName());
    for (const auto& [label, value] : DescribeCertificate(*facts))
        out << label << std::string(label.size() < 12 ? 12 - label.size() : 1, ' ') << value
            << '\n';
    TrustCertificate(*facts);
    if (facts->Untrusted.empty())
        out << "the system's certificates vouch for it: nothing to keep\n";
    else
        out << "trusted for " << facts->Server << '\n';
    return Done;
}

int Run(const Command& command, const std::string& url, std::ostream& out, std::ostream& err) {
    const std::string name = command.name;
    if (name == "--help") {
        out << HeadlessUsage();
        return Done;
    }
    if (name == "--trust")
        return Trust(url, out, err);
    MainInterface watchList;
    if (name == "--list") {
        for (std::int32_t i = 1; i <= watchList.GetURLsCount(); ++i) {
            const auto list = watchList.GetURL(i);
            out << list->URL() << '\t' << list->CountState(FileStateNew) << " new\t"
                << list->CountState(FileStateGone) << " gone\t" << list->CountState(FileStateOld)
                << " old";
            if (list->IsError())
                out << "\terror: " << list->GetErrorMsg();
            out << '\n';
        }
        return Done;
    }
    if (name == "--check") {
        watchList.SetChecksAtOnce(ReadChecksAtOnce());
        watchList.CheckFiles();
        watchList.WaitForChecks();
        int status = Done;
        for (std::int32_t i = 1; i <= watchList.GetURLsCount(); ++i) {
            const auto list = watchList.GetURL(i);
            PrintBlock(out, *list);
            if (list->IsError())
                status = Failed;
        }
        return status;
    }
    if (name == "--add") {
        const auto list = watchList.GetURL(watchList.AddURL(url));
        watchList.WaitForChecks();
        PrintBlock(out, *list);
        return list->IsError() ? Failed : Done;
    }
    if (name == "--remove") {
        if (watchList.GetURLIndex(url) == 0) {
            err << "ornbrook: not in the watch list: " << url << '\n';
            return Failed;
        }
        watchList.RemoveURL(url);
        return Done;
    }
    watchList.Refresh(); // --refresh
    return Done;
}

} // namespace

std::string HeadlessUsage() {
    return "usage: ornbrook [-log2] [-debugfile] [-prozessinfo]   start the window\n"
           "       ornbrook --list          list the watched URLs with their counts\n"
           "       ornbrook --check         check every URL once and print the changes\n"
           "       ornbrook --add URL       add a URL and check it\n"
           "       ornbrook --remove URL    stop watching a URL\n"
           "       ornbrook --refresh       acknowledge all changes\n"
           "       ornbrook --trust URL     show the certificate of an ftpes:// or ftps://\n"
           "                                URL's server and trust it for that server\n"
           "       ornbrook --help          show this text\n";
}

int RunHeadless(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty())
        return UsageError(err, "no command");
    const Command* command = nullptr;
    for (const Command& c : Commands) {
        if (args[0] == c.name)
            command = &c;
    }
    if (!command)
        return UsageError(err, "unknown option " + args[0]);
    const std::size_t expected = command->takesUrl ? 2 : 1;
    if (args.size() < expected)
        return UsageError(err, std::string(command->name) + " needs a URL");
    if (args.size() > expected)
        return UsageError(err, "unexpected argument " + args[expected]);
    if (args[0] == "--trust" && TlsModeOf(ParseURL(args[1]).Scheme) == TlsMode::None)
        return UsageError(err, "--trust needs an ftpes:// or ftps:// URL");
    try {
        return Run(*command, command->takesUrl ? args[1] : std::string(), out, err);
    } catch (const std::exception& error) {
        err << "ornbrook: " << error.what() << '\n';
        return FileTrouble;
    }
}

} // namespace ornbrook
