#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "net/WinsockClient_Form.h"

#include <QPointer>

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace ornbrook {

// One TCP or UDP client endpoint on a hidden host. Remembers the last connect
// target and the last sent packet for ReConnect and ReSendData. The owner calls
// Cancel before letting go (destruction cancels as well). After Cancel the
// members that reach the connection throw std::logic_error.
class CSocket_Client final {
public:
    // What SendData accepts: nothing (Empty), Null (which has no text form),
    // booleans, numbers, byte strings and bytes.
    using DataValue = std::variant<std::monostate, std::nullptr_t, bool, std::int64_t, double,
                                   std::string, std::vector<std::uint8_t>>;

    CSocket_Client();
    ~CSocket_Client();
    CSocket_Client(const CSocket_Client&) = delete;
    CSocket_Client& operator=(const CSocket_Client&) = delete;

    std::string LocalIP() const;
    std::int32_t SocketHandle() const;
    // 1 closed, 2 listening, 3 connecting, 4 connected.
    std::int32_t State() const;
    std::int32_t LocalPort() const;
    void SetLocalPort(std::int32_t port);
    std::string RemoteHost() const;
    std::int32_t RemotePort() const;
    void Connect(const std::string& Host, std::int32_t Port);
    void ReConnect();
    // Throws std::invalid_argument for Null, before anything is stored or sent.
    std::int32_t SendData(const DataValue& Data);
    void ReSendData();
    void Disconnect();
    void Cancel();
    void SetProtocol(std::int32_t theType);
    std::int32_t Protocol() const;
    std::string LastPacketData() const { return lastPacket_; }

    // The text form of a SendData value.
    static std::string DataText(const DataValue& Data);

    // The events of its host, re-raised unchanged.
    using EventList = WinsockClient_Form::EventList;
    EventList Events;

private:
    WinsockClient_Form& Form() const;
    void myWinsock_Connect();
    void myWinsock_Closed();
    void myWinsock_SendComplete();
    void myWinsock_DataArrival(const std::string& BinData, const std::string& RemoteHostIP);
    void myWinsock_Error(std::int32_t Error, const std::string& Description);

    LiveObject live_{"CSocket_Client"};
    // Its handlers on the events of what it holds.
    Subscriptions subscriptions_;
    QPointer<WinsockClient_Form> myWinsock_;
    std::string LastHost;
    std::int32_t LastPort = 0;
    std::string lastPacket_;
};

} // namespace ornbrook
