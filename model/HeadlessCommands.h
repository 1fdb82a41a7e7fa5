#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ornbrook {

class MainInterface;

// The command-line mode for scripts and machines without a desktop: the same
// watch list and data file, plain output. args are the arguments after the
// program name. Exit statuses: 0 done (every check ok), 1 a check failed or the
// URL is not in the list, 2 a usage error (nothing changed), 3 a file could not
// be read or written.
enum CommandStatus { CommandDone = 0, CommandFailed = 1, CommandUsage = 2, CommandFileTrouble = 3 };

// What a command prints and the status it ends with.
struct CommandResult {
    int Status = CommandDone;
    std::string Out;
    std::string Err;
    bool operator==(const CommandResult&) const = default;
};

// The answer to a command that needs no watch list: a usage error or --help.
// None for a command that works on the watch list.
std::optional<CommandResult> AnswerWithoutWatchList(const std::vector<std::string>& args);

// --trust talks to a server only: it needs neither the watch list nor the
// window, and is carried out where it was asked (TrustServerCertificate).
bool WorksWithoutWatchList(const std::vector<std::string>& args);
// Shows the certificate of an ftpes:// or ftps:// URL's server and trusts it for
// that server, whatever the system's certificates say: the user asked for it.
CommandResult TrustServerCertificate(const std::string& url);

// Carries out a command (one that AnswerWithoutWatchList left) on a watch list,
// wherever that list lives: in a command-line run, or in the running window
// that a command-line run handed it to. done runs once, on the watch list's
// thread, when the command has ended: at once, or when the checks it started
// have ended. The command keeps itself alive until then.
void StartCommand(MainInterface& watchList, const std::vector<std::string>& args,
                  std::function<void(CommandResult)> done);

// A whole command-line run on the program directory's data file: loads it,
// carries out the command, waits for its checks, prints. Returns the exit status.
int RunHeadless(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text that --help prints.
std::string HeadlessUsage();

} // namespace ornbrook
