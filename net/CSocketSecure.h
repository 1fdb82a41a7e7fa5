#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "net/AEventItem.h"
#include "net/CSocket.h"
#include "net/SocketData.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ornbrook {

class ATimer;

// The application-facing socket: owns one CSocket (mySocket), forwards the
// common members to it and re-delivers its events through a first-in,
// first-out queue that a timer drains one event per tick. The owner's handlers
// therefore never run inside a socket notification or inside Connect; the one
// exception is the "buffer overloaded" error (-1), raised at once when more
// than BufferSize events wait, which also drops the queue and closes the
// connection.
//
// SSL settings and results are read and set on mySocket.
//
// Made only through Create. The owner calls Cancel before letting go (mySocket
// stays in the socket registry until then). User-interface thread only.
class CSocketSecure final : public std::enable_shared_from_this<CSocketSecure> {
    LiveObject live_{"CSocketSecure"};
    // Its handlers on the events of what it holds.
    Subscriptions subscriptions_;

public:
    // The events, numbered 1 to 7 in this order as CSocket's, except that
    // DataArrival carries the received bytes as text.
    struct EventSet {
        Event<> Connect;                                                                        // 1
        Event<> Closed;                                                                         // 2
        Event<> SendComplete;                                                                   // 3
        Event<const std::string& /*BinData*/, const std::string& /*RemoteHostIP*/> DataArrival; // 4
        Event<const std::string& /*LineData*/, const std::string& /*RemoteHostIP*/>
            LineDataArrival;                                                     // 5
        Event<std::int32_t /*Error*/, const std::string& /*Description*/> Error; // 6
        Event<> ConnectionRequest;                                               // 7
    };

    static std::shared_ptr<CSocketSecure> Create();
    // Stops the timer and cancels mySocket if the owner did not.
    ~CSocketSecure();
    CSocketSecure(const CSocketSecure&) = delete;
    CSocketSecure& operator=(const CSocketSecure&) = delete;

    // The queue bound; below 1: no bound.
    std::int32_t BufferSize = 1000;
    // The wrapped socket; none after Cancel.
    std::shared_ptr<CSocket> mySocket;

    // Cancels and releases mySocket and the timer; queued events are dropped.
    void Cancel();
    // Milliseconds between delivered events (default 10).
    std::int32_t EventTimerDelay() const;
    void SetEventTimerDelay(std::int32_t delay);

    std::string LocalIP() const;
    std::int32_t SocketHandle() const;
    std::int32_t State() const;
    std::int32_t LocalPort() const;
    void SetLocalPort(std::int32_t port);
    std::string RemoteHost() const;
    std::int32_t RemotePort() const;
    // Read through LineSeparator, set through LineSeperator.
    std::string LineSeparator() const;
    void LineSeperator(const std::string& separator);
    std::int16_t TimeOut() const;
    void SetTimeOut(std::int16_t timeOut);

    void Connect(const std::string& Host, std::int32_t Port);
    void Listen();
    std::int32_t SendData(const SocketData& Data);
    void Disconnect();
    void Accept(CSocketSecure& MyServer);
    std::string MyIP();
    std::string myName();

    EventSet Events;

private:
    CSocketSecure() = default;
    void ConnectSocketEvents();

    void mySocket_Connect();
    void mySocket_Closed();
    void mySocket_SendComplete();
    void mySocket_DataArrival(const SocketBytes& BinData, const std::string& RemoteHostIP);
    void mySocket_LineDataArrival(const std::string& LineData, const std::string& RemoteHostIP);
    void mySocket_Error(std::int32_t Error, const std::string& Description);
    void mySocket_ConnectionRequest();

    void QueueEvent(std::shared_ptr<AEventItem> item);
    void StartDispatch();
    void eventTimer_Timer();
    void RaiseQueuedEvent(const AEventItem& item);
    void DropFirstEvent();
    void EmptyQueue();

    std::shared_ptr<ATimer> eventTimer;
    std::shared_ptr<AEventItem> FirstEvent;
    // The chain's last item while it is not empty: appending does not walk it.
    AEventItem* lastEvent_ = nullptr;
};

} // namespace ornbrook
