#pragma once

#include "base/Result.h"
#include "diag/Debug_Modul.h"
#include "model/HeadlessCommands.h"

#include <QByteArray>
#include <QObject>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace ornbrook {

class MainInterface;

// The local socket through which the one running window of a program directory
// takes the commands of command-line runs (and a second start's request to
// come to the front), so that only the window writes the directory's files
// while it runs. The socket lies in the user's own runtime directory and is
// reachable by this user only.
//
// A request is "ORNB", a kind byte ('C' command, 'S' show), a 4-byte count of
// arguments and each argument as a 4-byte length and its bytes; the answer is
// "ORNB", the 4-byte exit status and the output and error texts, each after its
// 4-byte length. Lengths are little-endian.
namespace CommandChannel {
// The socket's full name for the current ProgramDir.
std::string SocketName();
QByteArray EncodeRequest(char kind, const std::vector<std::string>& args);
QByteArray EncodeAnswer(const CommandResult& result);
// The request at the start of bytes: Complete with kind and args, NeedMore,
// or Refused when it can never be a request (wrong mark or kind, a length
// beyond the limits).
enum class Parse { Complete, NeedMore, Refused };
Parse DecodeRequest(const QByteArray& bytes, char& kind, std::vector<std::string>& args);
// The most a request may take; longer ones are refused.
constexpr int MaxRequestBytes = 256 * 1024;
} // namespace CommandChannel

// The window's end: carries out each command on the window's watch list and
// answers when it has ended; bad input is refused without effect.
class CommandServer final : public QObject {
public:
    CommandServer(MainInterface& watchList, std::function<void()> showWindow,
                  QObject* parent = nullptr);
    ~CommandServer() override;
    CommandServer(const CommandServer&) = delete;
    CommandServer& operator=(const CommandServer&) = delete;

    // Listens on the socket, replacing one a crashed window left behind (the
    // caller holds the data file lock, so no other window can be using it).
    bool Listen();

private:
    void Accept();
    void Read(QLocalSocket* client);

    LiveObject live_{"CommandServer"};
    MainInterface& watchList_;
    std::function<void()> showWindow_;
    QLocalServer* server_;
};

// The command-line end. The window's answer, none when no window listens, or
// why a window that took the command gave no answer.
Result<std::optional<CommandResult>> HandToWindow(const std::vector<std::string>& args);
// Asks a running window to come to the front; false when none listens.
bool AskWindowToShow();

} // namespace ornbrook
