#include "model/HeadlessCommands.h"

#include "base/FileIO_Code.h"
#include "base/Text_Code.h"
#include "base/Url.h"
#include "ftp/CertificateTrust.h"
#include "ftp/DirectoryListing.h"
#include "ftp/FtpSettings.h"
#include "model/DataFileFormat.h"
#include "model/DataFileLoad.h"
#include "model/DownloadQueue.h"
#include "model/FileActions.h"
#include "model/FileStore.h"
#include "model/MainInterface.h"
#include "model/TrustedCertificates.h"
#include "model/UrlFileList.h"
#include "model/UrlSettings.h"
#include "sftp/SftpListing.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <exception>
#include <istream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>

namespace ornbrook {

namespace {

struct Command {
    const char* name;
    bool takesUrl;
    // Takes KEY=VALUE assignments after its URL, at least one.
    bool takesAssignments = false;
};

constexpr Command Commands[] = {
    {"--list", false},    {"--check", false},   {"--add", true},   {"--remove", true},
    {"--refresh", false}, {"--trust", true},    {"--help", false}, {"--set", true, true},
    {"--settings", true}, {"--history", false},
};

constexpr const char* JsonSwitch = "--json";
constexpr const char* SinceSwitch = "--since";

// What a command's arguments say beyond the command and its URL.
struct Switches {
    bool Json = false;
    // --since: seconds since the epoch; none when not given.
    std::optional<std::int64_t> Since;
};

// YYYY-MM-DD as the first second of that day in UTC.
std::optional<std::int64_t> DayStart(const std::string& text) {
    int year = 0, month = 0, day = 0;
    char end = 0;
    if (text.size() != 10 ||
        std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &end) != 3)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    const std::time_t at = ::timegm(&tm);
    // A day that does not exist (02-30) comes back as another.
    if (tm.tm_mon != month - 1 || tm.tm_mday != day || year < 1970)
        return std::nullopt;
    return static_cast<std::int64_t>(at);
}

// Takes --json and --since DATE out of args; a usage error when they are
// misplaced or the date cannot be read.
std::optional<std::string> TakeSwitches(std::vector<std::string>& args, Switches& switches) {
    for (auto it = args.begin(); it != args.end();) {
        if (*it == JsonSwitch) {
            switches.Json = true;
            it = args.erase(it);
        } else if (*it == SinceSwitch) {
            if (it + 1 == args.end())
                return std::string("--since needs a day, YYYY-MM-DD");
            switches.Since = DayStart(*(it + 1));
            if (!switches.Since)
                return "--since needs a day as YYYY-MM-DD, not " + EscapedText(*(it + 1));
            it = args.erase(it, it + 2);
        } else {
            ++it;
        }
    }
    const std::string command = args.empty() ? std::string() : args[0];
    if (switches.Json && command != "--check" && command != "--list" && command != "--settings" &&
        command != "--history")
        return std::string("--json goes with --check, --list, --settings or --history");
    if (switches.Since && command != "--history")
        return std::string("--since goes with --history");
    return std::nullopt;
}

// One object of --json output on its line. Text that is not UTF-8 cannot be a
// JSON string: such bytes become U+FFFD.
std::string JsonLine(const nlohmann::json& object) {
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

// A time as --history prints it: UTC, ISO 8601.
std::string TimeText(std::int64_t seconds) {
    const auto at = static_cast<std::time_t>(seconds);
    std::tm tm{};
    ::gmtime_r(&at, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

const Command* Find(const std::string& name) {
    for (const Command& c : Commands) {
        if (name == c.name)
            return &c;
    }
    return nullptr;
}

constexpr const char* PasswordStdin = "--password-stdin";

// Whatever came from a server, a file or the command line, as it is printed:
// scripts read this output line by line.
std::string Shown(const std::string& text) {
    return EscapedText(text);
}

// The counts of one URL's entries by what the user is shown of them.
struct MarkCounts {
    std::int32_t New = 0, Changed = 0, Arriving = 0, Gone = 0, Old = 0;
};

// One line of --list: the URL, its counts, and its error if it has one, with
// when the schedule tries it next.
std::string ListLine(const Url& url, const MarkCounts& c, const std::string& error,
                     std::optional<std::int64_t> nextTry = std::nullopt) {
    std::string line = Shown(url.Masked()) + '\t' + std::to_string(c.New) + " new\t" +
                       std::to_string(c.Changed) + " changed\t" + std::to_string(c.Arriving) +
                       " arriving\t" + std::to_string(c.Gone) + " gone\t" + std::to_string(c.Old) +
                       " old";
    if (!error.empty())
        line += "\terror: " + Shown(error);
    if (nextTry) {
        const std::time_t when = static_cast<std::time_t>(*nextTry);
        std::tm local{};
        char stamp[32] = "";
        if (::localtime_r(&when, &local))
            std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        line += std::string("\tnext try ") + stamp;
    }
    return line + '\n';
}

nlohmann::json ListObject(const Url& url, const MarkCounts& c, const std::string& error,
                          std::optional<std::int64_t> nextTry) {
    nlohmann::json object = {{"url", url.Masked()},    {"new", c.New},   {"changed", c.Changed},
                             {"arriving", c.Arriving}, {"gone", c.Gone}, {"old", c.Old},
                             {"error", error}};
    if (nextTry)
        object["next_try"] = *nextTry;
    return object;
}

std::string ListText(const Url& url, const MarkCounts& c, const std::string& error,
                     std::optional<std::int64_t> nextTry, bool json) {
    return json ? JsonLine(ListObject(url, c, error, nextTry)) : ListLine(url, c, error, nextTry);
}

// The counts of a record of the data file, told by the store's counts of the
// marks it holds beyond the file's states (never more than the file holds).
MarkCounts CountsOf(const UrlRecord& record, const FileStore::MarkCounts& marks) {
    std::int32_t states[3] = {0, 0, 0};
    for (std::size_t k = 1; k < record.Entries.size(); ++k)
        ++states[record.Entries[k].State];
    MarkCounts c;
    c.Changed = std::min(marks.ChangedNew, states[FileStateNew]);
    const std::int32_t arrivingNew = std::min(marks.ArrivingNew, states[FileStateNew] - c.Changed);
    const std::int32_t arrivingOld = std::min(marks.ArrivingOld, states[FileStateOld]);
    c.Arriving = marks.ArrivingUnsettled + arrivingNew + arrivingOld;
    c.New = states[FileStateNew] - c.Changed - arrivingNew;
    c.Old = states[FileStateOld] - arrivingOld;
    c.Gone = states[FileStateGone];
    return c;
}

// --list of a command-line run: straight from the file, one record at a time,
// so that listing a large watch list takes little more memory than one URL;
// the store, where there is one, says how many of them are changed or arriving.
CommandResult ListDataFile(std::string& notice, bool json) {
    std::map<std::string, FileStore::MarkCounts> marks;
    std::string keyNotice, storeNotice;
    const UrlNames names = UrlNames::Load(MainInterface::KeyFileName(), keyNotice);
    const auto nameOf = [&names](const std::string& url) { return names.Of(url); };
    if (FileExists(MainInterface::StoreFileName())) {
        auto store = FileStore::Open(MainInterface::StoreFileName(), storeNotice, nameOf);
        auto counted = store ? (*store)->CountMarks() : std::move(store).error();
        if (counted)
            marks = std::move(*counted);
        else
            storeNotice = counted.error().Message;
    }
    std::string out;
    const DataFileLoad load =
        LoadDataFile(MainInterface::DataFileName(), [&](const UrlRecord& record) {
            const auto found = marks.find(names.Of(record.URL));
            out += ListText(
                Url(record.URL),
                CountsOf(record, found == marks.end() ? FileStore::MarkCounts{} : found->second),
                record.ErrorMsg, std::nullopt, json);
        });
    notice = keyNotice;
    for (const std::string& more : {DamageNotice(load), storeNotice}) {
        if (!more.empty())
            notice += (notice.empty() ? "" : "\n") + more;
    }
    return {CommandDone, std::move(out), {}};
}

// One block: the URL, "ok" or its error, then its files by mark: new "+ ",
// changed "* ", arriving "~ ", gone "- "; a blank line.
void PrintBlock(std::ostream& out, const UrlFileList& list,
                const std::vector<std::string>& saved = {}) {
    out << Shown(list.ParsedURL().Masked()) << '\n'
        << (list.IsError() ? Shown(list.GetErrorMsg()) : "ok") << '\n';
    constexpr std::pair<FileMark, const char*> Marks[] = {{FileMark::New, "+ "},
                                                          {FileMark::Changed, "* "},
                                                          {FileMark::Arriving, "~ "},
                                                          {FileMark::Gone, "- "}};
    for (const auto& [mark, lead] : Marks) {
        for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i) {
            if (list.GetFileMark(i) == mark)
                out << lead << Shown(list.GetFileName(i)) << '\n';
        }
    }
    for (const std::string& refusal : list.RefusedNames())
        out << Shown(refusal) << '\n';
    for (const std::string& line : saved)
        out << line << '\n';
    out << '\n';
}

// The same as one JSON object: its marks' names as arrays, and what was
// done with its files.
std::string JsonBlock(const UrlFileList& list, const std::vector<std::string>& done = {}) {
    nlohmann::json block{
        {"url", list.ParsedURL().Masked()}, {"ok", !list.IsError()}, {"error", list.GetErrorMsg()}};
    constexpr std::pair<FileMark, const char*> Marks[] = {{FileMark::New, "new"},
                                                          {FileMark::Changed, "changed"},
                                                          {FileMark::Arriving, "arriving"},
                                                          {FileMark::Gone, "gone"}};
    for (const auto& [mark, key] : Marks) {
        nlohmann::json names = nlohmann::json::array();
        for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i) {
            if (list.GetFileMark(i) == mark)
                names.push_back(list.GetFileName(i));
        }
        block[key] = std::move(names);
    }
    block["refused"] = list.RefusedNames();
    block["done"] = done;
    return JsonLine(block);
}

std::string SettingsText(const Url& url, const UrlSettings& settings, bool json) {
    if (!json) {
        std::string out;
        for (const std::string& line : AssignmentLines(settings))
            out += Shown(line) + '\n';
        return out;
    }
    nlohmann::json object{{"url", url.Masked()},
                          {"include", nlohmann::json::array()},
                          {"exclude", nlohmann::json::array()}};
    for (const std::string& line : AssignmentLines(settings)) {
        const std::size_t is = line.find('=');
        const std::string key = line.substr(0, is), value = line.substr(is + 1);
        if (key == "include" || key == "exclude")
            object[key].push_back(value);
        else if (!value.empty() && value.size() < 10 &&
                 std::all_of(value.begin(), value.end(), [](char c) { return std::isdigit(c); }))
            object[key] = std::stoll(value);
        else
            object[key] = value;
    }
    return JsonLine(object);
}

// A password as the URL carries it. The login ends at the last "@" and the
// password begins after the first ":", so both stay as they are; what would end
// the host part or be read as an escape ("/", "?", "#", "%"), blanks and control
// characters (which a stored URL never holds) are percent-encoded.
std::string EncodePassword(const std::string& password) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : password) {
        const auto code = static_cast<unsigned char>(c);
        if (code <= 0x20 || code == 0x7F || c == '%' || c == '/' || c == '?' || c == '#') {
            encoded += '%';
            encoded += Hex[code >> 4];
            encoded += Hex[code & 0xF];
        } else {
            encoded += c;
        }
    }
    return encoded;
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
               std::vector<std::string> assignments, Switches switches,
               std::function<void(CommandResult)> done)
        : watchList_(watchList), name_(std::move(name)), url_(std::move(url)),
          assignments_(std::move(assignments)), switches_(switches), answer_(std::move(done)) {}

    void Start() {
        if (name_ == "--list")
            return Answer(CommandDone, List());
        if (name_ == "--history")
            return History();
        if (name_ == "--refresh") {
            watchList_.Refresh();
            return Answer(CommandDone, {});
        }
        if (name_ == "--remove") {
            const std::int32_t named = NamedOrAnswered();
            if (named == 0)
                return;
            watchList_.RemoveURL(watchList_.GetURL(named)->URL());
            return Answer(CommandDone, {});
        }
        if (name_ == "--set" || name_ == "--settings") {
            const std::int32_t named = NamedOrAnswered();
            if (named == 0)
                return;
            UrlSettings settings = watchList_.GetURLSettings(named);
            if (name_ == "--set") {
                if (const auto taken = ApplyAssignments(settings, assignments_); !taken)
                    return Answer(CommandUsage, {},
                                  "ornbrook: " + Shown(taken.error().Message) + "\n");
                watchList_.SetURLSettings(named, settings);
            }
            return Answer(CommandDone, SettingsText(watchList_.GetURL(named)->ParsedURL(), settings,
                                                    switches_.Json));
        }
        if (name_ == "--add") {
            // A URL already watched, however its scheme is written, is not added
            // again but checked once more: the answer is always fresh.
            const std::int32_t known = watchList_.FindURL(url_);
            const auto list = watchList_.GetURL(known != 0 ? known : watchList_.AddURL(url_));
            if (known != 0)
                list->CheckFiles();
            awaited_.push_back(list);
        } else { // --check
            watchList_.CheckFiles(true);
            for (std::int32_t i = 1; i <= watchList_.GetURLsCount(); ++i) {
                if (!watchList_.GetURL(i)->Settings().Paused)
                    awaited_.push_back(watchList_.GetURL(i));
            }
        }
        // Held by the handlers until the answer; they go with it.
        const auto self = shared_from_this();
        subscriptions_ +=
            watchList_.CheckEnded.Connect([self](const UrlFileList&) { self->Poll(); });
        // What download= and run= did is told with its URL's block, once all
        // is in; what failed fails the command. A name refused by rule is told
        // but fails nothing: nothing could have saved it.
        subscriptions_ += watchList_.Downloads().News.Connect([self](const DownloadNews& news) {
            if (news.What == DownloadNews::Stage::Saved)
                self->Tell(news.Url, "saved ", news.SavedAs, {});
            else if (news.What == DownloadNews::Stage::Failed ||
                     news.What == DownloadNews::Stage::Refused)
                self->Tell(news.Url, "not saved ", news.Name, news.Message);
            if (news.What == DownloadNews::Stage::Failed)
                self->failed_.insert(news.Url);
            self->Poll();
        });
        subscriptions_ += watchList_.Actions().Ended.Connect([self](const ProgramNews& news) {
            using Ending = ProgramOutcome::Ending;
            if (news.Outcome.How == Ending::NotStarted || news.Outcome.How == Ending::TimedOut) {
                self->Tell(news.Url, "program failed ", news.Name, news.Outcome.Describe());
                self->failed_.insert(news.Url);
            }
            self->Poll();
        });
        subscriptions_ += watchList_.ListChanged.Connect([self] { self->Poll(); });
        Poll();
    }

private:
    // The position of the one URL the command names; 0 once it has answered
    // that none or several fit.
    std::int32_t NamedOrAnswered() {
        const std::vector<std::int32_t> fits = NamedURLs(watchList_, url_);
        if (fits.empty())
            Answer(CommandFailed, {},
                   "ornbrook: not in the watch list: " + Shown(Url(url_).Masked()) + "\n");
        else if (fits.size() > 1)
            Answer(CommandUsage, {}, Ambiguous(url_, fits));
        return fits.size() == 1 ? fits[0] : 0;
    }

    std::string List() const {
        std::string out;
        for (std::int32_t i = 1; i <= watchList_.GetURLsCount(); ++i) {
            const auto list = watchList_.GetURL(i);
            const MarkCounts c{list->CountMark(FileMark::New), list->CountMark(FileMark::Changed),
                               list->CountMark(FileMark::Arriving), list->CountMark(FileMark::Gone),
                               list->CountMark(FileMark::Old)};
            out += ListText(list->ParsedURL(), c, list->GetErrorMsg(), watchList_.NextTry(*list),
                            switches_.Json);
        }
        return out;
    }

    // The events kept since --since (all kept when not given), of the URL
    // named: a watched one by its name, else by its masked form, which also
    // finds a URL no longer watched.
    void History() {
        std::string name, masked;
        if (!url_.empty()) {
            if (const auto fits = NamedURLs(watchList_, url_); fits.size() == 1)
                name = watchList_.NameOf(watchList_.GetURL(fits[0])->URL());
            else
                masked = Url(url_).Masked();
        }
        std::string out;
        for (const HistoryEvent& event : watchList_.History(name, switches_.Since.value_or(0))) {
            const std::string shownUrl(UrlNames::MaskedPart(event.Url));
            if (!masked.empty() && shownUrl != masked)
                continue;
            if (switches_.Json)
                out += JsonLine({{"time", TimeText(event.Time)},
                                 {"url", shownUrl},
                                 {"event", event.What},
                                 {"name", event.Name},
                                 {"detail", event.Detail}});
            else
                out += TimeText(event.Time) + '\t' + Shown(shownUrl) + '\t' + event.What + '\t' +
                       Shown(event.Name) + '\t' + Shown(event.Detail) + '\n';
        }
        Answer(CommandDone, std::move(out));
    }

    static std::string Ambiguous(const std::string& text, const std::vector<std::int32_t>& fits) {
        std::string positions;
        for (const std::int32_t i : fits)
            positions += (positions.empty() ? "" : ", ") + std::to_string(i);
        return "ornbrook: " + Shown(Url(text).Masked()) + " fits the URLs at positions " +
               positions + ": name one by its position (--remove " + std::to_string(fits[0]) +
               ")\n";
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
        if (watchList_.Downloads().Outstanding() > 0 || watchList_.Actions().Outstanding() > 0)
            return;
        // The blocks of the awaited URLs still watched, in list order.
        std::ostringstream out;
        int status = CommandDone;
        for (std::int32_t i = 1; i <= watchList_.GetURLsCount(); ++i) {
            const auto list = watchList_.GetURL(i);
            const bool isAwaited = std::any_of(awaited_.begin(), awaited_.end(),
                                               [&](const auto& a) { return a.lock() == list; });
            if (!isAwaited) {
                if (name_ == "--check" && list->Settings().Paused)
                    out << (switches_.Json
                                ? JsonLine({{"url", list->ParsedURL().Masked()}, {"paused", true}})
                                : Shown(list->ParsedURL().Masked()) + "\npaused: not checked\n\n");
                continue;
            }
            if (switches_.Json)
                out << JsonBlock(*list, done_[list->URL()]);
            else
                PrintBlock(out, *list, saved_[list->URL()]);
            if (list->IsError() || failed_.count(list->URL()) > 0)
                status = CommandFailed;
        }
        Answer(status, out.str());
    }

    // A line of what was done with a URL's files: "WHAT NAME[: WHY]", shown
    // escaped in the text, exact in --json.
    void Tell(const std::string& url, const std::string& what, const std::string& name,
              const std::string& why) {
        saved_[url].push_back(what + Shown(name) + (why.empty() ? "" : ": " + Shown(why)));
        done_[url].push_back(what + name + (why.empty() ? "" : ": " + why));
    }

    void Answer(int status, std::string out, std::string err = {}) {
        answered_ = true;
        // The handlers may hold the last reference: keep this alive to the end.
        const auto keep = weak_from_this().lock();
        subscriptions_.CancelAll();
        answer_(CommandResult{status, std::move(out), std::move(err)});
    }

    MainInterface& watchList_;
    std::string name_;
    std::string url_;
    std::vector<std::string> assignments_;
    Switches switches_;
    std::function<void(CommandResult)> answer_;
    std::vector<std::weak_ptr<UrlFileList>> awaited_;
    std::map<std::string, std::vector<std::string>> saved_, done_;
    // The URLs of which a download or program asked for did not happen.
    std::set<std::string> failed_;
    Subscriptions subscriptions_;
    bool answered_ = false;
};

} // namespace

std::vector<std::int32_t> NamedURLs(const MainInterface& watchList, const std::string& text) {
    if (const std::int32_t found = watchList.FindURL(text); found != 0)
        return {found};
    const std::int32_t count = watchList.GetURLsCount();
    if (!text.empty() && text.size() <= 9 &&
        std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(c) != 0; })) {
        const std::int32_t position = std::stoi(text);
        if (position >= 1 && position <= count)
            return {position};
        return {};
    }
    std::vector<std::int32_t> fits;
    for (std::int32_t i = 1; i <= count; ++i) {
        if (watchList.GetURL(i)->ParsedURL().Masked() == text)
            fits.push_back(i);
    }
    return fits;
}

std::optional<CommandResult> TakePasswordFromStdin(std::vector<std::string>& args,
                                                   std::istream& in) {
    const auto it = std::find(args.begin(), args.end(), PasswordStdin);
    if (it == args.end())
        return std::nullopt;
    if (args[0] != "--add")
        return UsageError(std::string(PasswordStdin) + " goes with --add");
    args.erase(it);
    if (auto answer = AnswerWithoutWatchList(args))
        return answer;
    std::string& url = args[1];
    const Url parsed(url);
    const std::size_t at = parsed.UserInfoEnd();
    if (parsed.UserInfo().empty())
        return UsageError(std::string(PasswordStdin) + " needs a URL with a user name, " +
                          "ftp://user@host/path/");
    if (parsed.UserInfo().find(':') != std::string_view::npos)
        return UsageError("the URL holds a password already: leave it out with " +
                          std::string(PasswordStdin));
    std::string password;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty())
        return UsageError(std::string(PasswordStdin) +
                          " found no password on the first line of standard input");
    url.insert(at, ":" + EncodePassword(password));
    return std::nullopt;
}

std::string HeadlessUsage() {
    return "usage: ornbrook [-debug] [-log2|-log3] [-debugfile] [-prozessinfo]\n"
           "                                start the window (see the README for each switch)\n"
           "       ornbrook --list          list the watched URLs with their counts\n"
           "       ornbrook --check         check every URL once and print the changes\n"
           "       ornbrook --add URL       add a URL and check it\n"
           "       ornbrook --add URL --password-stdin\n"
           "                                the same with the password from the first line\n"
           "                                of standard input (URL as ftp://user@host/path/)\n"
           "       ornbrook --remove URL    stop watching a URL, named as typed, as --list\n"
           "                                shows it, or by its position in the list\n"
           "       ornbrook --refresh       acknowledge all changes\n"
           "       ornbrook --set URL KEY=VALUE...\n"
           "                                change a URL's own settings: depth=0..10,\n"
           "                                include=GLOB, exclude=GLOB (each as often as\n"
           "                                needed), nocase=0|1, interval=SECONDS (0: the\n"
           "                                global one), paused=0|1; KEY= resets a key\n"
           "       ornbrook --settings URL  print a URL's settings as KEY=VALUE lines\n"
           "       ornbrook --trust URL     show the certificate of an ftpes:// or ftps://\n"
           "                                URL's server, or the host key of an sftp://\n"
           "                                URL's, and trust it for that server\n"
           "       ornbrook --history [URL] [--since YYYY-MM-DD]\n"
           "                                print what happened (kept 90 days): new, changed,\n"
           "                                gone, saved, refused, program ended, check failed\n"
           "       --json                   with --check, --list, --settings, --history: one\n"
           "                                JSON object per line\n"
           "       ornbrook --watch [-log2|-log3]\n"
           "                                watch without a window (a service): checks,\n"
           "                                downloads and programs on schedule, one log line\n"
           "                                per event; other runs hand their commands to it\n"
           "       ornbrook -h, --help      show this text\n";
}

std::optional<CommandResult> AnswerWithoutWatchList(const std::vector<std::string>& given) {
    std::vector<std::string> args = given;
    Switches switches;
    if (const auto misplaced = TakeSwitches(args, switches))
        return UsageError(*misplaced);
    if (args.empty())
        return UsageError("no command");
    const Command* command = Find(args[0]);
    if (!command)
        return UsageError("unknown option " + args[0]);
    // --history may name a URL.
    const std::size_t expected =
        command->takesUrl || (std::string(command->name) == "--history" && args.size() == 2) ? 2
                                                                                             : 1;
    if (args.size() < expected)
        return UsageError(std::string(command->name) + " needs a URL");
    if (command->takesAssignments) {
        if (args.size() == expected)
            return UsageError(std::string(command->name) + " needs KEY=VALUE after the URL");
        // Refused before the watch list is touched; the URL's own values are
        // not needed to judge them.
        UrlSettings judged;
        if (const auto taken =
                ApplyAssignments(judged, std::vector<std::string>(args.begin() + 2, args.end()));
            !taken)
            return CommandResult{
                CommandUsage, {}, "ornbrook: " + Shown(taken.error().Message) + "\n"};
        return std::nullopt;
    }
    if (args.size() > expected)
        return UsageError(args[expected] == PasswordStdin
                              ? std::string(PasswordStdin) + " is read by the command line itself"
                              : "unexpected argument " + Shown(Url(args[expected]).Masked()));
    if (std::string(command->name) == "--help")
        return CommandResult{CommandDone, HeadlessUsage(), {}};
    if (std::string(command->name) == "--add") {
        if (const Result<Url> judged = JudgeNewURL(args[1]); !judged)
            return CommandResult{CommandUsage,
                                 {},
                                 "ornbrook: cannot add " + Shown(Url(args[1]).Masked()) + ": " +
                                     Shown(judged.error().Message) + "\n"};
    }
    if (std::string(command->name) == "--trust" && Url(args[1]).Speaks() == Url::Protocol::Ftp)
        return UsageError("--trust needs an ftpes://, ftps:// or sftp:// URL");
    return std::nullopt;
}

bool WorksWithoutWatchList(const std::vector<std::string>& args) {
    return !args.empty() && args[0] == "--trust";
}

namespace {
CommandResult TrustSftpHostKey(const Url& url) {
    SetHostKeyTrustFile(KnownHostsFileName());
    const auto facts = FetchSftpHostKey(SftpTargetOf(url), CurrentFtpTimeouts().Check, nullptr);
    if (!facts)
        return {CommandFailed, {}, "ornbrook: " + Shown(facts.error().Message) + "\n"};
    std::ostringstream out;
    out << "Server      " << Shown(facts->Server) << "\nKey type    " << Shown(facts->KeyType)
        << "\nFingerprint " << facts->Fingerprint << '\n';
    if (facts->Verdict == HostKeyVerdict::Changed)
        out << "it replaces the key kept in " << Shown(facts->OldKeyFile) << '\n';
    try {
        TrustHostKey(*facts);
    } catch (const std::exception& error) {
        return {CommandFileTrouble, out.str(), std::string("ornbrook: ") + error.what() + "\n"};
    }
    out << "trusted for " << Shown(facts->Server) << '\n';
    return {CommandDone, out.str(), {}};
}
} // namespace

CommandResult TrustServerCertificate(const std::string& text) {
    const Url url(text);
    if (url.IsSftp())
        return TrustSftpHostKey(url);
    auto facts = FetchCertificate(url);
    if (!facts)
        return {CommandFailed, {}, "ornbrook: " + Shown(facts.error().Message) + "\n"};
    JudgeCertificate(*facts, TrustedCertificatesFileName());
    std::ostringstream out;
    for (const auto& [label, value] : DescribeCertificate(*facts))
        out << label << std::string(label.size() < 12 ? 12 - label.size() : 1, ' ') << Shown(value)
            << '\n';
    try {
        TrustCertificate(*facts);
    } catch (const std::exception& error) {
        return {CommandFileTrouble, out.str(), std::string("ornbrook: ") + error.what() + "\n"};
    }
    if (facts->Untrusted.empty())
        out << "the system's certificates vouch for it: nothing to keep\n";
    else
        out << "trusted for " << Shown(facts->Server) << '\n';
    return {CommandDone, out.str(), {}};
}

void StartCommand(MainInterface& watchList, const std::vector<std::string>& args,
                  std::function<void(CommandResult)> done) {
    if (auto answer = AnswerWithoutWatchList(args)) {
        done(std::move(*answer));
        return;
    }
    std::vector<std::string> plain = args;
    Switches switches;
    TakeSwitches(plain, switches);
    const Command* command = Find(plain[0]);
    // It talks to a server, not to the watch list: a window never waits for it.
    if (WorksWithoutWatchList(args)) {
        done({CommandUsage, {}, "ornbrook: --trust is carried out by the command line itself\n"});
        return;
    }
    std::string url = plain.size() > 1 ? plain[1] : std::string();
    if (plain[0] == "--add")
        url = JudgeNewURL(url)->Text();
    std::vector<std::string> assignments;
    if (command->takesAssignments)
        assignments.assign(plain.begin() + 2, plain.end());
    auto run = std::make_shared<CommandRun>(watchList, command->name, std::move(url),
                                            std::move(assignments), switches, std::move(done));
    run->Start();
}

int RunHeadless(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::optional<CommandResult> result = AnswerWithoutWatchList(args);
    if (!result && WorksWithoutWatchList(args))
        result = TrustServerCertificate(args[1]);
    std::string notice;
    try {
        std::vector<std::string> plain = args;
        Switches switches;
        TakeSwitches(plain, switches);
        if (!result && plain[0] == "--list") {
            result = ListDataFile(notice, switches.Json);
        } else if (!result) {
            MainInterface watchList;
            notice = watchList.TakeDamageNotice();
            // One save for the whole run, at its end.
            watchList.DeferSaves();
            watchList.SetChecksAtOnce(watchList.Prefs().ChecksAtOnce());
            StartCommand(watchList, args, [&result](CommandResult r) { result = std::move(r); });
            watchList.WaitForChecks();
            watchList.SaveIfChanged();
            watchList.FinishSaves();
        }
    } catch (const std::exception& error) {
        // What the checks found is still printed; the status says the file failed.
        result = CommandResult{CommandFileTrouble, result ? result->Out : std::string(),
                               std::string("ornbrook: ") + error.what() + "\n"};
    }
    // Each damaged file is told on a line of its own.
    for (std::size_t from = 0; from < notice.size();) {
        const std::size_t end = std::min(notice.find('\n', from), notice.size());
        err << "ornbrook: " << EscapedText(std::string_view(notice).substr(from, end - from))
            << '\n';
        from = end + 1;
    }
    out << result->Out;
    err << result->Err;
    return result->Status;
}

} // namespace ornbrook
