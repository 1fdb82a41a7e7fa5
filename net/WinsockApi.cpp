#include "net/WinsockApi.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ornbrook::winsock {

namespace {

int lastError = 0;
int startupCount = 0;
NameLookup testLookup;

int Fail(int error) {
    lastError = error;
    return SOCKET_ERROR;
}

int FailErrno() {
    return Fail(WinsockErrorFromErrno(errno));
}

// One socket made here and what its selection waits for. Winsock's rules: a
// notification that was posted is not posted again until the program has reacted
// (read, accepted, or sent into a full buffer), so the descriptor is not watched
// meanwhile and a waiting notification costs no polling.
struct Selection {
    enum class Phase { Fresh, Connecting, Connected, Listening, Failed };

    SOCKET fd = INVALID_SOCKET;
    Phase phase = Phase::Fresh;
    HWND hwnd = 0;
    UINT message = 0;
    std::int32_t mask = 0;
    bool readWaiting = false; // FD_READ or FD_ACCEPT posted, not yet reacted to
    bool writeWanted = false; // FD_WRITE due as soon as the socket is writable
    bool closeSeen = false;   // FD_CLOSE posted (or the end of the stream was met)
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;

    bool Active() const { return hwnd != 0 && message != 0 && mask != 0; }
};

std::map<SOCKET, std::unique_ptr<Selection>>& Sockets() {
    static std::map<SOCKET, std::unique_ptr<Selection>> sockets;
    return sockets;
}

Selection* Find(SOCKET s) {
    const auto it = Sockets().find(s);
    return it == Sockets().end() ? nullptr : it->second.get();
}

void Post(const Selection& sel, std::int32_t event, int error) {
    if (!sel.Active() || (sel.mask & event) == 0)
        return;
    const LPARAM lParam = static_cast<LPARAM>(event) | (static_cast<LPARAM>(error & 0xFFFF) << 16);
    PostMessage(sel.hwnd, sel.message, static_cast<WPARAM>(sel.fd), lParam);
}

void OnReadable(SOCKET s);
void OnWritable(SOCKET s);

// Watches the descriptor for exactly what the selection still waits for.
void Update(Selection& sel) {
    using Phase = Selection::Phase;
    const bool canNotify = sel.Active() && QCoreApplication::instance() != nullptr &&
                           QThread::currentThread() == QCoreApplication::instance()->thread();
    const bool wantRead = canNotify && !sel.readWaiting && !sel.closeSeen &&
                          (sel.phase == Phase::Connected || sel.phase == Phase::Listening);
    const bool wantWrite = canNotify && (sel.phase == Phase::Connecting ||
                                         (sel.phase == Phase::Connected && sel.writeWanted));
    if (wantRead && !sel.reader) {
        sel.reader = std::make_unique<QSocketNotifier>(sel.fd, QSocketNotifier::Read);
        const SOCKET fd = sel.fd;
        QObject::connect(sel.reader.get(), &QSocketNotifier::activated,
                         [fd](QSocketDescriptor, QSocketNotifier::Type) { OnReadable(fd); });
    }
    if (wantWrite && !sel.writer) {
        sel.writer = std::make_unique<QSocketNotifier>(sel.fd, QSocketNotifier::Write);
        const SOCKET fd = sel.fd;
        QObject::connect(sel.writer.get(), &QSocketNotifier::activated,
                         [fd](QSocketDescriptor, QSocketNotifier::Type) { OnWritable(fd); });
    }
    if (sel.reader)
        sel.reader->setEnabled(wantRead);
    if (sel.writer)
        sel.writer->setEnabled(wantWrite);
}

void OnReadable(SOCKET s) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return;
    if (sel->phase == Selection::Phase::Listening) {
        sel->readWaiting = true;
        Post(*sel, FD_ACCEPT, 0);
    } else {
        char probe = 0;
        const ssize_t n = ::recv(s, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            sel->readWaiting = true;
            Post(*sel, FD_READ, 0);
        } else if (n == 0) {
            sel->closeSeen = true;
            Post(*sel, FD_CLOSE, 0);
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            sel->closeSeen = true;
            Post(*sel, FD_CLOSE, WinsockErrorFromErrno(errno));
        }
    }
    Update(*sel);
}

void OnWritable(SOCKET s) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return;
    if (sel->phase == Selection::Phase::Connecting) {
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error == EINPROGRESS || error == EALREADY)
            return;
        if (error == 0) {
            sel->phase = Selection::Phase::Connected;
            sel->writeWanted = true;
            Post(*sel, FD_CONNECT, 0);
        } else {
            sel->phase = Selection::Phase::Failed;
            Post(*sel, FD_CONNECT, WinsockErrorFromErrno(error));
        }
    } else if (sel->writeWanted) {
        sel->writeWanted = false;
        Post(*sel, FD_WRITE, 0);
    }
    Update(*sel);
}

bool SetNonBlocking(SOCKET s, bool on) {
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

int LookupError(int gaiError) {
    switch (gaiError) {
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_FAIL:
        return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return WSANO_DATA;
#endif
    default:
        return WSAHOST_NOT_FOUND;
    }
}

} // namespace

int WinsockErrorFromErrno(int error) {
    switch (error) {
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAEBADF;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
    case EINPROGRESS: // a non-blocking connect under way, in Winsock's words
        return WSAEWOULDBLOCK;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return WSAENETDOWN;
    }
}

int WSAStartup(std::uint16_t version) {
    if ((version & 0xFF) < 1)
        return WSAVERNOTSUPPORTED;
    ++startupCount;
    return 0;
}

int WSACleanup() {
    if (startupCount == 0)
        return Fail(WSANOTINITIALISED);
    --startupCount;
    return 0;
}

int WSAStartupCount() {
    return startupCount;
}
int WSAGetLastError() {
    return lastError;
}

SOCKET socket(int family, int type, int protocol) {
    if (startupCount == 0)
        return Fail(WSANOTINITIALISED);
    if (family != FamilyInet)
        return Fail(10047);
    if (type != TypeStream)
        return Fail(10044);
    const int fd = ::socket(PF_INET, ::SOCK_STREAM | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return FailErrno();
    auto sel = std::make_unique<Selection>();
    sel->fd = fd;
    Sockets()[fd] = std::move(sel);
    return fd;
}

int bind(SOCKET s, const void* address, int length) {
    if (Find(s) == nullptr)
        return Fail(WSAENOTSOCK);
    // A listener must be able to take its port again while old connections linger.
    const int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(s, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) != 0)
        return FailErrno();
    return 0;
}

int connect(SOCKET s, const void* address, int length) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return Fail(WSAENOTSOCK);
    if (::connect(s, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length)) == 0) {
        sel->phase = Selection::Phase::Connected;
        sel->writeWanted = true;
        Post(*sel, FD_CONNECT, 0);
        Update(*sel);
        return 0;
    }
    const int error = errno;
    if (error == EINPROGRESS) {
        sel->phase = Selection::Phase::Connecting;
        Update(*sel);
        return Fail(WSAEWOULDBLOCK);
    }
    // A non-blocking connect that fails at once still reports through FD_CONNECT.
    sel->phase = Selection::Phase::Failed;
    Post(*sel, FD_CONNECT, WinsockErrorFromErrno(error));
    Update(*sel);
    return Fail(WinsockErrorFromErrno(error));
}

int WaitForConnect(SOCKET s, int limitMs) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return Fail(WSAENOTSOCK);
    if (sel->phase == Selection::Phase::Connected)
        return 0;
    if (sel->phase != Selection::Phase::Connecting)
        return Fail(WSAENOTCONN);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    pollfd entry{s, POLLOUT, 0};
    for (;;) {
        int wait = -1;
        if (limitMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return Fail(WSAETIMEDOUT);
            wait = static_cast<int>(left.count());
        }
        const int ready = ::poll(&entry, 1, wait);
        if (ready > 0)
            break;
        if (ready < 0 && errno != EINTR)
            return FailErrno();
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0) {
        sel->phase = Selection::Phase::Failed;
        return Fail(WinsockErrorFromErrno(error));
    }
    sel->phase = Selection::Phase::Connected;
    sel->writeWanted = true;
    return 0;
}

int listen(SOCKET s, int backlog) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return Fail(WSAENOTSOCK);
    if (::listen(s, backlog) != 0)
        return FailErrno();
    sel->phase = Selection::Phase::Listening;
    Update(*sel);
    return 0;
}

SOCKET accept(SOCKET s, void* address, int* length) {
    Selection* listener = Find(s);
    if (listener == nullptr)
        return Fail(WSAENOTSOCK);
    socklen_t size = length != nullptr ? static_cast<socklen_t>(*length) : 0;
    const int fd = ::accept4(s, static_cast<sockaddr*>(address),
                             length != nullptr ? &size : nullptr, SOCK_CLOEXEC);
    const int error = errno;
    listener->readWaiting = false;
    Update(*listener);
    if (fd < 0)
        return Fail(WinsockErrorFromErrno(error));
    if (length != nullptr)
        *length = static_cast<int>(size);
    auto sel = std::make_unique<Selection>();
    sel->fd = fd;
    sel->phase = Selection::Phase::Connected;
    sel->hwnd = listener->hwnd;
    sel->message = listener->message;
    sel->mask = listener->mask;
    if (sel->Active()) {
        SetNonBlocking(fd, true);
        sel->writeWanted = true;
    }
    Selection& added = *(Sockets()[fd] = std::move(sel));
    Update(added);
    return fd;
}

int send(SOCKET s, const void* data, int length, int flags) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return Fail(WSAENOTSOCK);
    const ssize_t n = ::send(s, data, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    if (n < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            sel->writeWanted = true;
            Update(*sel);
        }
        return Fail(WinsockErrorFromErrno(error));
    }
    return static_cast<int>(n);
}

int recv(SOCKET s, void* buffer, int length, int flags) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return Fail(WSAENOTSOCK);
    const ssize_t n = ::recv(s, buffer, static_cast<std::size_t>(length), flags);
    const int error = errno;
    sel->readWaiting = false;
    Update(*sel);
    if (n < 0)
        return Fail(WinsockErrorFromErrno(error));
    return static_cast<int>(n);
}

int closesocket(SOCKET s) {
    const auto it = Sockets().find(s);
    if (it == Sockets().end())
        return Fail(WSAENOTSOCK);
    Sockets().erase(it); // the notifiers go before the descriptor
    ::close(s);
    return 0;
}

int ioctlsocket(SOCKET s, std::uint32_t command, std::uint32_t* argument) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return Fail(WSAENOTSOCK);
    if (command != FionBio || argument == nullptr)
        return Fail(WSAEINVAL);
    if (*argument == 0 && sel->Active())
        return Fail(WSAEINVAL);
    if (!SetNonBlocking(s, *argument != 0))
        return FailErrno();
    return 0;
}

int getpeername(SOCKET s, void* address, int* length) {
    socklen_t size = static_cast<socklen_t>(*length);
    if (::getpeername(s, static_cast<sockaddr*>(address), &size) != 0)
        return FailErrno();
    *length = static_cast<int>(size);
    return 0;
}

int getsockname(SOCKET s, void* address, int* length) {
    socklen_t size = static_cast<socklen_t>(*length);
    if (::getsockname(s, static_cast<sockaddr*>(address), &size) != 0)
        return FailErrno();
    *length = static_cast<int>(size);
    return 0;
}

int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT message, std::int32_t mask) {
    Selection* sel = Find(s);
    if (sel == nullptr)
        return Fail(WSAENOTSOCK);
    if (message == 0 || mask == 0) {
        sel->hwnd = 0;
        sel->message = 0;
        sel->mask = 0;
    } else {
        if (!IsWindow(hwnd))
            return Fail(WSAEINVAL);
        if (!SetNonBlocking(s, true))
            return FailErrno();
        sel->hwnd = hwnd;
        sel->message = message;
        sel->mask = mask;
        sel->readWaiting = false;
        // A connected socket that can be written to is told so at once.
        if (sel->phase == Selection::Phase::Connected)
            sel->writeWanted = true;
    }
    Update(*sel);
    return 0;
}

void RequestReadNotification(SOCKET s) {
    if (Selection* sel = Find(s)) {
        sel->readWaiting = false;
        Update(*sel);
    }
}

void RequestWriteNotification(SOCKET s) {
    if (Selection* sel = Find(s)) {
        sel->writeWanted = true;
        Update(*sel);
    }
}

std::uint32_t inet_addr(const std::string& text) {
    return ::inet_addr(text.c_str());
}

std::string inet_ntoa(std::uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    char buffer[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(PF_INET, &a, buffer, sizeof buffer) == nullptr)
        return {};
    return buffer;
}

std::optional<std::vector<std::uint32_t>> gethostbyname(const std::string& name) {
    if (testLookup.byName) {
        auto result = testLookup.byName(name);
        if (!result)
            lastError = WSAHOST_NOT_FOUND;
        return result;
    }
    addrinfo hints{};
    hints.ai_family = PF_INET;
    hints.ai_socktype = ::SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        lastError = LookupError(rc);
        return std::nullopt;
    }
    std::vector<std::uint32_t> addresses;
    for (const addrinfo* p = list; p != nullptr; p = p->ai_next) {
        if (p->ai_family == PF_INET && p->ai_addr != nullptr)
            addresses.push_back(reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr);
    }
    ::freeaddrinfo(list);
    if (addresses.empty()) {
        lastError = WSANO_DATA;
        return std::nullopt;
    }
    return addresses;
}

std::optional<std::string> gethostbyaddr(std::uint32_t address) {
    if (testLookup.byAddress) {
        auto result = testLookup.byAddress(address);
        if (!result)
            lastError = WSAHOST_NOT_FOUND;
        return result;
    }
    sockaddr_in in{};
    in.sin_family = PF_INET;
    in.sin_addr.s_addr = address;
    char host[NI_MAXHOST] = {};
    const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&in), sizeof in, host,
                                 sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        lastError = LookupError(rc);
        return std::nullopt;
    }
    return std::string(host);
}

std::optional<std::string> gethostname() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        FailErrno();
        return std::nullopt;
    }
    return std::string(buffer);
}

void SetNameLookupForTesting(NameLookup lookup) {
    testLookup = std::move(lookup);
}

} // namespace ornbrook::winsock
