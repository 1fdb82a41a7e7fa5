#include "model/HeadlessCommands.h"

#include "base/FileIO_Code.h"
#include "ftp/CertificateTrust.h"
#include "ftp/DirectoryListing.h"
#include "ftp/FtpModule.h"
#include "model/CheckSettings.h"
#include "model/MainInterface.h"
#include "model/TrustedCertificates.h"
#include "model/UrlFileList.h"

#include <algorithm>
#include <exception>
#include <ostream>
#include <sstream>

namespace ornbrook {

namespace {

struct Command {
    const char* name;
    bool takesUrl;
};

constexpr Command Commands[] = {
    {"--list", false},    {"--check", false}, {"--add", true},   {"--remove", true},
    {"--refresh", false}, {"--trust", true},  {"--help", false},
};

const Command* Find(const std::string& name) {
    for (const Command& c : Commands) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

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

CommandResult UsageError(const std::string& problem) {
    return {CommandUsage, {}, "ornbrook: " + problem + "\n" + HeadlessUsage()};
}

// A command on a watch list, alive until it has answered. A command that
// started checks answers when each of them has ended, or its URL has gone:
// whatever happened to the list meanwhile (a window's user may delete or edit
// a URL), it always answers.
class CommandRun final : public std::enable_shared_from_this<CommandRun> {
public:
    CommandRun(MainInterface& watchList, std::string name, std::string url,
               std::function<void(CommandResult)> done)
        : watchList_(watchList), name_(std::move(name)), url_(std::move(url)),
          done_(std::move(done)) {}

    void Start() {
        if (name_ == "--list")
            return Answer(CommandDone, List());
        if (name_ == "--refresh") {
            watchList_.Refresh();
            return Answer(CommandDone, {});
        }
        if (name_ == "--remove") {
            const std::int32_t index = watchList_.FindURL(url_);
            if (index == 0)
                return Answer(CommandFailed, {}, "ornbrook: not in the watch list: " + url_ + "\n");
            watchList_.RemoveURL(watchList_.GetURL(index)->URL());
            watchList_.RaiseEvent_Change();
            return Answer(CommandDone, {});
        }
        if (name_ == "--add") {
            // A URL watched already, however its scheme is written, is not added again.
            const std::int32_t found = watchList_.FindURL(url_);
            awaited_.push_back(watchList_.GetURL(found != 0 ? found : watchList_.AddURL(url_)));
            watchList_.RaiseEvent_Change();
        } else { // --check
            watchList_.CheckFiles();
            for (std::int32_t i = 1; i <= watchList_.GetURLsCount(); ++i)
                awaited_.push_back(watchList_.GetURL(i));
        }
        // Held by the handlers until the answer; they go with it.
        const auto self = shared_from_this();
        subscriptions_ +=
            watchList_.CheckEnded.Connect([self](const UrlFileList&) { self->Poll(); });
        subscriptions_ += watchList_.ListChanged.Connect([self] { self->Poll(); });
        Poll();
    }

private:
    std::string List() const {
        std::ostringstream out;
        for (std::int32_t i = 1; i <= watchList_.GetURLsCount(); ++i) {
            const auto list = watchList_.GetURL(i);
            out << list->URL() << '\t' << list->CountState(FileStateNew) << " new\t"
                << list->CountState(FileStateGone) << " gone\t" << list->CountState(FileStateOld)
                << " old";
            if (list->IsError())
                out << "\terror: " << list->GetErrorMsg();
            out << '\n';
        }
        return out.str();
    }

    // Answers once every awaited URL's check has ended or the URL has gone.
    void Poll() {
        if (answered_)
            return;
        for (const auto& awaited : awaited_) {
            const auto list = awaited.lock();
            if (list && watchList_.GetURLIndex(list->URL()) != 0 && list->IsCheckPending())
                return;
        }
        // The blocks of the awaited URLs still watched, in list order.
        std::ostringstream out;
        int status = CommandDone;
        for (std::int32_t i = 1; i <= watchList_.GetURLsCount(); ++i) {
            const auto list = watchList_.GetURL(i);
            const bool isAwaited = std::any_of(awaited_.begin(), awaited_.end(),
                                               [&](const auto& a) { return a.lock() == list; });
            if (!isAwaited)
                continue;
            PrintBlock(out, *list);
            if (list->IsError())
                status = CommandFailed;
        }
        Answer(status, out.str());
    }

    void Answer(int status, std::string out, std::string err = {}) {
        answered_ = true;
        // The handlers may hold the last reference: keep this alive to the end.
        const auto keep = weak_from_this().lock();
        subscriptions_.CancelAll();
        done_(CommandResult{status, std::move(out), std::move(err)});
    }

    MainInterface& watchList_;
    std::string name_;
    std::string url_;
    std::function<void(CommandResult)> done_;
    std::vector<std::weak_ptr<UrlFileList>> awaited_;
    Subscriptions subscriptions_;
    bool answered_ = false;
};

} // namespace

std::string HeadlessUsage() {
    return "usage: ornbrook [-debug] [-log2|-log3] [-debugfile] [-prozessinfo]\n"
           "                                start the window (see the README for each switch)\n"
           "       ornbrook --list          list the watched URLs with their counts\n"
           "       ornbrook --check         check every URL once and print the changes\n"
           "       ornbrook --add URL       add a URL and check it\n"
           "       ornbrook --remove URL    stop watching a URL\n"
           "       ornbrook --refresh       acknowledge all changes\n"
           "       ornbrook --trust URL     show the certificate of an ftpes:// or ftps://\n"
           "                                URL's server and trust it for that server\n"
           "       ornbrook -h, --help      show this text\n";
}

std::optional<CommandResult> AnswerWithoutWatchList(const std::vector<std::string>& args) {
    if (args.empty())
        return UsageError("no command");
    const Command* command = Find(args[0]);
    if (!command)
        return UsageError("unknown option " + args[0]);
    const std::size_t expected = command->takesUrl ? 2 : 1;
    if (args.size() < expected)
        return UsageError(std::string(command->name) + " needs a URL");
    if (args.size() > expected)
        return UsageError("unexpected argument " + args[expected]);
    if (std::string(command->name) == "--help")
        return CommandResult{CommandDone, HeadlessUsage(), {}};
    if (std::string(command->name) == "--add") {
        if (const NewURLJudgement judged = JudgeNewURL(args[1]); !judged.Accepted())
            return CommandResult{CommandUsage,
                                 {},
                                 "ornbrook: cannot add " + MaskedURL(args[1]) + ": " +
                                     judged.Refusal + "\n"};
    }
    if (std::string(command->name) == "--trust" &&
        TlsModeOf(ParseURL(args[1]).Scheme) == TlsMode::None)
        return UsageError("--trust needs an ftpes:// or ftps:// URL");
    return std::nullopt;
}

bool WorksWithoutWatchList(const std::vector<std::string>& args) {
    return !args.empty() && args[0] == "--trust";
}

CommandResult TrustServerCertificate(const std::string& url) {
    CommandResult result;
    std::string problem;
    auto facts = FetchCertificate(url, problem);
    if (!facts)
        return {CommandFailed, {}, "ornbrook: " + problem + "\n"};
    JudgeCertificate(*facts, TrustedCertificatesFileName());
    std::ostringstream out;
    for (const auto& [label, value] : DescribeCertificate(*facts))
        out << label << std::string(label.size() < 12 ? 12 - label.size() : 1, ' ') << value
            << '\n';
    try {
        TrustCertificate(*facts);
    } catch (const std::exception& error) {
        return {CommandFileTrouble, out.str(), std::string("ornbrook: ") + error.what() + "\n"};
    }
    if (facts->Untrusted.empty())
        out << "the system's certificates vouch for it: nothing to keep\n";
    else
        out << "trusted for " << facts->Server << '\n';
    return {CommandDone, out.str(), {}};
}

void StartCommand(MainInterface& watchList, const std::vector<std::string>& args,
                  std::function<void(CommandResult)> done) {
    if (auto answer = AnswerWithoutWatchList(args)) {
        done(std::move(*answer));
        return;
    }
    const Command* command = Find(args[0]);
    // It talks to a server, not to the watch list: a window never waits for it.
    if (WorksWithoutWatchList(args)) {
        done({CommandUsage, {}, "ornbrook: --trust is carried out by the command line itself\n"});
        return;
    }
    std::string url = command->takesUrl ? args[1] : std::string();
    if (args[0] == "--add")
        url = JudgeNewURL(url).URL;
    auto run =
        std::make_shared<CommandRun>(watchList, command->name, std::move(url), std::move(done));
    run->Start();
}

int RunHeadless(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::optional<CommandResult> result = AnswerWithoutWatchList(args);
    if (!result && WorksWithoutWatchList(args))
        result = TrustServerCertificate(args[1]);
    try {
        if (!result) {
            MainInterface watchList;
            watchList.SetChecksAtOnce(ReadChecksAtOnce());
            StartCommand(watchList, args, [&result](CommandResult r) { result = std::move(r); });
            watchList.WaitForChecks();
        }
    } catch (const std::exception& error) {
        result =
            CommandResult{CommandFileTrouble, {}, std::string("ornbrook: ") + error.what() + "\n"};
    }
    out << result->Out;
    err << result->Err;
    return result->Status;
}

} // namespace ornbrook
