#include "app/CommandChannel.h"

#include "base/ProgramGlobals.h"
#include "model/MainInterface.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QVariant>

#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

namespace {

constexpr char Mark[] = "ORNB";
constexpr int MarkBytes = 4;
constexpr int MaxArguments = 16;
// A client that has not sent its whole request by then is dropped.
constexpr int RequestMilliseconds = 5000;
constexpr int ConnectMilliseconds = 2000;

void AppendNumber(QByteArray& out, std::uint32_t n) {
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((n >> (8 * i)) & 0xFF));
}

void AppendText(QByteArray& out, const std::string& text) {
    AppendNumber(out, static_cast<std::uint32_t>(text.size()));
    out.append(text.data(), static_cast<qsizetype>(text.size()));
}

// Reads numbers and texts from the front of bytes, never past their end.
class Reader {
public:
    explicit Reader(const QByteArray& bytes) : bytes_(bytes) {}
    bool Number(std::uint32_t& n) {
        if (bytes_.size() - at_ < 4)
            return false;
        n = 0;
        for (int i = 0; i < 4; ++i)
            n |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
        at_ += 4;
        return true;
    }
    bool Text(std::uint32_t length, std::string& text) {
        if (static_cast<std::uint64_t>(bytes_.size() - at_) < length)
            return false;
        text.assign(bytes_.constData() + at_, length);
        at_ += length;
        return true;
    }
    bool Mark() {
        if (bytes_.size() < MarkBytes)
            return false;
        at_ = MarkBytes;
        return true;
    }
    qsizetype At() const { return at_; }

private:
    const QByteArray& bytes_;
    qsizetype at_ = 0;
};

bool StartsWithMark(const QByteArray& bytes) {
    const qsizetype n = std::min<qsizetype>(bytes.size(), MarkBytes);
    return bytes.left(n) == QByteArray(Mark, n);
}

// A directory only this user can enter: the user's runtime directory, or one
// of our own under /tmp when there is none.
bool PrivateDirectory(const std::string& dir) {
    struct stat info {};
    return ::lstat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & 077) == 0;
}

std::string RuntimeDirectory() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        if (PrivateDirectory(runtime))
            return runtime;
    }
    const std::string own = "/tmp/ornbrook-" + std::to_string(::getuid());
    ::mkdir(own.c_str(), 0700);
    // Made by someone else: not ours to trust, so there is no channel.
    return PrivateDirectory(own) ? own : std::string();
}

CommandChannel::Parse DecodeAnswer(const QByteArray& bytes, CommandResult& result) {
    using CommandChannel::Parse;
    if (!StartsWithMark(bytes))
        return Parse::Refused;
    Reader reader(bytes);
    std::uint32_t status = 0, outLength = 0, errLength = 0;
    if (!reader.Mark() || !reader.Number(status) || !reader.Number(outLength) ||
        !reader.Text(outLength, result.Out) || !reader.Number(errLength) ||
        !reader.Text(errLength, result.Err))
        return Parse::NeedMore;
    result.Status = static_cast<int>(status);
    return Parse::Complete;
}

// Bad input ends the connection, nothing else.
void Drop(QLocalSocket* client) {
    client->abort();
    client->deleteLater();
}

// Sends a request and waits for the whole answer; none when no window listens.
Result<std::optional<CommandResult>> Exchange(const QByteArray& request) {
    const std::string name = CommandChannel::SocketName();
    if (name.empty())
        return std::nullopt;
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(name));
    if (!socket.waitForConnected(ConnectMilliseconds))
        return std::nullopt;
    socket.write(request);
    QByteArray answer;
    CommandResult result;
    for (;;) {
        // A long check keeps the window busy for minutes: wait as long as it lives.
        if (!socket.waitForReadyRead(-1) && socket.bytesAvailable() == 0)
            return Error{ErrorKind::Connection, "the window ended before it answered"};
        answer += socket.readAll();
        switch (DecodeAnswer(answer, result)) {
        case CommandChannel::Parse::Complete:
            return std::optional(result);
        case CommandChannel::Parse::Refused:
            return Error{ErrorKind::Protocol, "the window answered nonsense"};
        case CommandChannel::Parse::NeedMore:
            break;
        }
    }
}

} // namespace

namespace CommandChannel {

std::string SocketName() {
    const std::string dir = RuntimeDirectory();
    if (dir.empty())
        return {};
    // One window per program directory: the directory names the socket.
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(ProgramDir), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return dir + "/ornbrook-" + hash.toStdString() + ".sock";
}

QByteArray EncodeRequest(char kind, const std::vector<std::string>& args) {
    QByteArray out(Mark, MarkBytes);
    out.append(kind);
    AppendNumber(out, static_cast<std::uint32_t>(args.size()));
    for (const auto& arg : args)
        AppendText(out, arg);
    return out;
}

QByteArray EncodeAnswer(const CommandResult& result) {
    QByteArray out(Mark, MarkBytes);
    AppendNumber(out, static_cast<std::uint32_t>(result.Status));
    AppendText(out, result.Out);
    AppendText(out, result.Err);
    return out;
}

Parse DecodeRequest(const QByteArray& bytes, char& kind, std::vector<std::string>& args) {
    if (!StartsWithMark(bytes))
        return Parse::Refused;
    if (bytes.size() <= MarkBytes)
        return Parse::NeedMore;
    kind = bytes[MarkBytes];
    if (kind != 'C' && kind != 'S')
        return Parse::Refused;
    Reader reader(bytes);
    reader.Mark();
    std::string skip;
    reader.Text(1, skip);
    std::uint32_t count = 0;
    if (!reader.Number(count))
        return Parse::NeedMore;
    if (count > MaxArguments)
        return Parse::Refused;
    args.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t length = 0;
        if (!reader.Number(length))
            return Parse::NeedMore;
        if (length > MaxRequestBytes || reader.At() + length > MaxRequestBytes)
            return Parse::Refused;
        std::string arg;
        if (!reader.Text(length, arg))
            return Parse::NeedMore;
        args.push_back(std::move(arg));
    }
    return Parse::Complete;
}

} // namespace CommandChannel

CommandServer::CommandServer(MainInterface& watchList, std::function<void()> showWindow,
                             QObject* parent)
    : QObject(parent), watchList_(watchList), showWindow_(std::move(showWindow)),
      server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] { Accept(); });
}

CommandServer::~CommandServer() = default;

bool CommandServer::Listen() {
    const QString name = QString::fromStdString(CommandChannel::SocketName());
    if (name.isEmpty())
        return false;
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

void CommandServer::Accept() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] { Read(client); });
        // A half request never holds a connection for long.
        QTimer::singleShot(RequestMilliseconds, client, [client] {
            if (!client->property("ornbrookAnswering").toBool())
                Drop(client);
        });
    }
}

void CommandServer::Read(QLocalSocket* client) {
    if (client->property("ornbrookAnswering").toBool()) {
        client->readAll(); // nothing more is asked on one connection
        return;
    }
    QByteArray request = client->property("ornbrookRequest").toByteArray() + client->readAll();
    char kind = 0;
    std::vector<std::string> args;
    switch (CommandChannel::DecodeRequest(request, kind, args)) {
    case CommandChannel::Parse::NeedMore:
        if (request.size() > CommandChannel::MaxRequestBytes)
            Drop(client);
        else
            client->setProperty("ornbrookRequest", request);
        return;
    case CommandChannel::Parse::Refused:
        Drop(client);
        return;
    case CommandChannel::Parse::Complete:
        break;
    }
    client->setProperty("ornbrookAnswering", true);
    client->setProperty("ornbrookRequest", QByteArray());
    const auto answer = [client = QPointer<QLocalSocket>(client)](const CommandResult& result) {
        if (!client)
            return; // the command-line run went away; what it asked is done all the same
        client->write(CommandChannel::EncodeAnswer(result));
        client->disconnectFromServer();
    };
    if (kind == 'S') {
        if (showWindow_)
            showWindow_();
        answer(CommandResult{});
        return;
    }
    StartCommand(watchList_, args, answer);
}

Result<std::optional<CommandResult>> HandToWindow(const std::vector<std::string>& args) {
    return Exchange(CommandChannel::EncodeRequest('C', args));
}

bool AskWindowToShow() {
    const auto answer = Exchange(CommandChannel::EncodeRequest('S', {}));
    return answer && answer->has_value();
}

} // namespace ornbrook
