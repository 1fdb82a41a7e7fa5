#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "net/WinsockServer_Form.h"

#include <QPointer>

#include <cstdint>
#include <string>

namespace ornbrook {

// A listener with any number of accepted connections on a hidden host, each
// addressed by its index (0 the listener, 1 and up the connections). Remembers
// the last sent packet for ReSendData. The owner calls Cancel before letting go
// (destruction cancels as well). After Cancel the members that reach the
// connections throw std::logic_error.
class CSocket_Server final {
public:
    CSocket_Server();
    ~CSocket_Server();
    CSocket_Server(const CSocket_Server&) = delete;
    CSocket_Server& operator=(const CSocket_Server&) = delete;

    void Cancel();
    // True on failure, which is logged; no event.
    bool Listen(std::int32_t Port);
    void Disconnect(std::int32_t Index);
    std::int32_t GetPort(std::int32_t Index) const;
    std::int32_t GetState(std::int32_t Index) const;
    void SendData(std::int32_t Index, const std::string& Data);
    void ReSendData();
    std::string GetClientIP(std::int32_t Index) const;
    std::string GetServerIP(std::int32_t Index) const;
    // The listener's and every loaded connection element's protocol.
    void SetProtocol(std::int32_t theType);
    std::int32_t Protocol() const;
    std::int32_t LastPacketIndex() const { return lastIndex_; }
    std::string LastPacketData() const { return lastData_; }

    // The host, for looking at the loaded elements.
    const WinsockServer_Form& Form() const;

    // The events of its host, re-raised unchanged.
    using EventList = WinsockServer_Form::EventList;
    EventList Events;

private:
    WinsockServer_Form& myWinsocks() const;
    void myWinsocks_Error(std::int32_t Index, std::int32_t Number, const std::string& Description);
    void myWinsocks_NewClient(std::int32_t Index);
    void myWinsocks_SendComplete(std::int32_t Index);
    void myWinsocks_DataArrival(std::int32_t Index, const std::string& Data);
    void myWinsocks_Closed(std::int32_t Index);

    LiveObject live_{"CSocket_Server"};
    // Its handlers on the events of what it holds.
    Subscriptions subscriptions_;
    QPointer<WinsockServer_Form> myWinsocks_;
    std::int32_t lastIndex_ = 0;
    std::string lastData_;
};

} // namespace ornbrook
