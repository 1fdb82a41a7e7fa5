#include "net/CSocketSecure.h"

#include "platform/ATimer.h"

#include <utility>

namespace ornbrook {

namespace {

constexpr std::int16_t EventConnect = 1;
constexpr std::int16_t EventClosed = 2;
constexpr std::int16_t EventSendComplete = 3;
constexpr std::int16_t EventDataArrival = 4;
constexpr std::int16_t EventLineDataArrival = 5;
constexpr std::int16_t EventError = 6;
constexpr std::int16_t EventConnectionRequest = 7;

std::shared_ptr<AEventItem> NewItem(std::int16_t eventNr, std::vector<EventValue> parameters = {}) {
    auto item = std::make_shared<AEventItem>();
    item->EventNr = eventNr;
    item->Parameters = std::move(parameters);
    return item;
}

std::string TextAt(const AEventItem& item, std::size_t index) {
    if (index >= item.Parameters.size())
        return {};
    if (const auto* text = std::get_if<std::string>(&item.Parameters[index]))
        return *text;
    return std::to_string(std::get<std::int32_t>(item.Parameters[index]));
}

std::int32_t NumberAt(const AEventItem& item, std::size_t index) {
    if (index >= item.Parameters.size())
        return 0;
    if (const auto* number = std::get_if<std::int32_t>(&item.Parameters[index]))
        return *number;
    return 0;
}

} // namespace

std::shared_ptr<CSocketSecure> CSocketSecure::Create() {
    std::shared_ptr<CSocketSecure> made(new CSocketSecure());
    made->eventTimer = ATimer::Create();
    made->eventTimer->SetDelay(10);
    made->eventTimer->SetResolution(30000);
    const std::weak_ptr<CSocketSecure> weak = made;
    made->subscriptions_ += made->eventTimer->Timer.Connect([weak] {
        if (const auto self = weak.lock())
            self->eventTimer_Timer();
    });
    made->mySocket = CSocket::Create();
    made->ConnectSocketEvents();
    return made;
}

CSocketSecure::~CSocketSecure() {
    if (eventTimer)
        eventTimer->StoppTimer();
    if (mySocket)
        mySocket->Cancel();
}

// The handlers hold the object weakly: mySocket may outlive it in the socket
// registry when the owner forgot Cancel.
void CSocketSecure::ConnectSocketEvents() {
    const std::weak_ptr<CSocketSecure> weak = weak_from_this();
    auto& events = mySocket->Events;
    subscriptions_ += events.Connect.Connect([weak] {
        if (const auto self = weak.lock())
            self->mySocket_Connect();
    });
    subscriptions_ += events.Closed.Connect([weak] {
        if (const auto self = weak.lock())
            self->mySocket_Closed();
    });
    subscriptions_ += events.SendComplete.Connect([weak] {
        if (const auto self = weak.lock())
            self->mySocket_SendComplete();
    });
    subscriptions_ +=
        events.DataArrival.Connect([weak](const SocketBytes& bytes, const std::string& ip) {
            if (const auto self = weak.lock())
                self->mySocket_DataArrival(bytes, ip);
        });
    subscriptions_ +=
        events.LineDataArrival.Connect([weak](const std::string& line, const std::string& ip) {
            if (const auto self = weak.lock())
                self->mySocket_LineDataArrival(line, ip);
        });
    subscriptions_ +=
        events.Error.Connect([weak](std::int32_t number, const std::string& description) {
            if (const auto self = weak.lock())
                self->mySocket_Error(number, description);
        });
    subscriptions_ += events.ConnectionRequest.Connect([weak] {
        if (const auto self = weak.lock())
            self->mySocket_ConnectionRequest();
    });
}

void CSocketSecure::Cancel() {
    if (mySocket) {
        // Taken out first: a handler that runs meanwhile finds no socket.
        const auto socket = std::move(mySocket);
        socket->Cancel();
    }
    if (eventTimer) {
        eventTimer->StoppTimer();
        eventTimer.reset();
    }
    EmptyQueue();
}

std::int32_t CSocketSecure::EventTimerDelay() const {
    return eventTimer ? eventTimer->Delay() : 0;
}

void CSocketSecure::SetEventTimerDelay(std::int32_t delay) {
    if (eventTimer)
        eventTimer->SetDelay(delay);
}

// After Cancel the forwarded members read as a closed socket and do nothing.
std::string CSocketSecure::LocalIP() const {
    return mySocket ? mySocket->LocalIP() : std::string();
}
std::int32_t CSocketSecure::SocketHandle() const {
    return mySocket ? mySocket->SocketHandle : 0;
}
std::int32_t CSocketSecure::State() const {
    return mySocket ? mySocket->State : CSocket::StateClosed;
}
std::int32_t CSocketSecure::LocalPort() const {
    return mySocket ? mySocket->LocalPort : 0;
}
void CSocketSecure::SetLocalPort(std::int32_t port) {
    if (mySocket)
        mySocket->LocalPort = port;
}
std::string CSocketSecure::RemoteHost() const {
    return mySocket ? mySocket->RemoteHost : std::string();
}
std::int32_t CSocketSecure::RemotePort() const {
    return mySocket ? mySocket->RemotePort : 0;
}
std::string CSocketSecure::LineSeparator() const {
    return mySocket ? mySocket->LineSeparator : std::string();
}
void CSocketSecure::LineSeperator(const std::string& separator) {
    if (mySocket)
        mySocket->LineSeparator = separator;
}
std::int16_t CSocketSecure::TimeOut() const {
    return mySocket ? mySocket->TimeOut : std::int16_t{0};
}
void CSocketSecure::SetTimeOut(std::int16_t timeOut) {
    if (mySocket)
        mySocket->TimeOut = timeOut;
}

void CSocketSecure::Connect(const std::string& Host, std::int32_t Port) {
    if (mySocket)
        mySocket->Connect(Host, Port);
}
void CSocketSecure::Listen() {
    if (mySocket)
        mySocket->Listen();
}
std::int32_t CSocketSecure::SendData(const SocketData& Data) {
    return mySocket ? mySocket->SendData(Data) : 0;
}
void CSocketSecure::Disconnect() {
    if (mySocket)
        mySocket->Disconnect();
}
void CSocketSecure::Accept(CSocketSecure& MyServer) {
    if (mySocket && MyServer.mySocket)
        mySocket->Accept(*MyServer.mySocket);
}
std::string CSocketSecure::MyIP() {
    return mySocket ? mySocket->MyIP() : std::string();
}
std::string CSocketSecure::myName() {
    return mySocket ? mySocket->myName() : std::string();
}

void CSocketSecure::mySocket_Connect() {
    QueueEvent(NewItem(EventConnect));
}
void CSocketSecure::mySocket_Closed() {
    QueueEvent(NewItem(EventClosed));
}
void CSocketSecure::mySocket_SendComplete() {
    QueueEvent(NewItem(EventSendComplete));
}

void CSocketSecure::mySocket_DataArrival(const SocketBytes& BinData,
                                         const std::string& RemoteHostIP) {
    // Texts are byte strings here: the bytes are kept as they came.
    QueueEvent(
        NewItem(EventDataArrival, {std::string(BinData.begin(), BinData.end()), RemoteHostIP}));
}

void CSocketSecure::mySocket_LineDataArrival(const std::string& LineData,
                                             const std::string& RemoteHostIP) {
    QueueEvent(NewItem(EventLineDataArrival, {LineData, RemoteHostIP}));
}

void CSocketSecure::mySocket_Error(std::int32_t Error, const std::string& Description) {
    QueueEvent(NewItem(EventError, {Error, Description}));
}

void CSocketSecure::mySocket_ConnectionRequest() {
    QueueEvent(NewItem(EventConnectionRequest));
}

void CSocketSecure::QueueEvent(std::shared_ptr<AEventItem> item) {
    if (!eventTimer)
        return; // cancelled: nothing is delivered any more
    if (!FirstEvent) {
        lastEvent_ = item.get();
        FirstEvent = std::move(item);
        StartDispatch();
        return;
    }
    if (BufferSize >= 1 && FirstEvent->GetCount() > BufferSize) {
        // The owner cannot keep up: everything waiting is dropped, the
        // connection closed and the new event lost.
        Events.Error.Raise(-1, "buffer overloaded");
        EmptyQueue();
        if (mySocket)
            mySocket->Disconnect();
        return;
    }
    AEventItem* last = lastEvent_;
    lastEvent_ = item.get();
    last->NextItem = std::move(item);
}

void CSocketSecure::StartDispatch() {
    if (FirstEvent && eventTimer && !eventTimer->IsRunning())
        eventTimer->StartTimer();
}

void CSocketSecure::eventTimer_Timer() {
    if (eventTimer)
        eventTimer->StoppTimer();
    if (!FirstEvent)
        return;
    // The item stays first while its handler runs, so events that arrive
    // meanwhile queue behind it.
    const auto item = FirstEvent;
    RaiseQueuedEvent(*item);
    // The handler may have cancelled, or an overload may have emptied the
    // queue and new events filled it again: only the delivered item goes.
    if (FirstEvent == item)
        DropFirstEvent();
    else
        StartDispatch();
}

void CSocketSecure::RaiseQueuedEvent(const AEventItem& item) {
    switch (item.EventNr) {
    case EventConnect:
        Events.Connect.Raise();
        break;
    case EventClosed:
        Events.Closed.Raise();
        break;
    case EventSendComplete:
        Events.SendComplete.Raise();
        break;
    case EventDataArrival:
        Events.DataArrival.Raise(TextAt(item, 0), TextAt(item, 1));
        break;
    case EventLineDataArrival:
        Events.LineDataArrival.Raise(TextAt(item, 0), TextAt(item, 1));
        break;
    case EventError:
        Events.Error.Raise(NumberAt(item, 0), TextAt(item, 1));
        break;
    case EventConnectionRequest:
        Events.ConnectionRequest.Raise();
        break;
    default:
        break;
    }
}

void CSocketSecure::DropFirstEvent() {
    auto next = std::move(FirstEvent->NextItem);
    FirstEvent = std::move(next);
    if (!FirstEvent)
        lastEvent_ = nullptr;
    StartDispatch();
}

void CSocketSecure::EmptyQueue() {
    if (FirstEvent)
        FirstEvent->Cancel();
    FirstEvent.reset();
    lastEvent_ = nullptr;
}

} // namespace ornbrook
