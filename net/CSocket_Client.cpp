#include "net/CSocket_Client.h"

#include "base/NumberText.h"
#include "net/WinsockClient_Form.h"
#include "net/WinsockControl.h"

#include <stdexcept>

namespace ornbrook {

CSocket_Client::CSocket_Client() : myWinsock_(new WinsockClient_Form) {
    myWinsock_->SetClass(this);
    auto& events = myWinsock_->Events;
    subscriptions_ += events.Connect.Connect([this] { myWinsock_Connect(); });
    subscriptions_ += events.Closed.Connect([this] { myWinsock_Closed(); });
    subscriptions_ += events.SendComplete.Connect([this] { myWinsock_SendComplete(); });
    subscriptions_ += events.DataArrival.Connect(
        [this](const std::string& BinData, const std::string& RemoteHostIP) {
            myWinsock_DataArrival(BinData, RemoteHostIP);
        });
    subscriptions_ +=
        events.Error.Connect([this](std::int32_t Error, const std::string& Description) {
            myWinsock_Error(Error, Description);
        });
}

CSocket_Client::~CSocket_Client() {
    Cancel();
}

std::string CSocket_Client::LocalIP() const {
    return Form().myWinsock().LocalIP();
}

std::int32_t CSocket_Client::SocketHandle() const {
    return Form().myWinsock().SocketHandle();
}

std::int32_t CSocket_Client::State() const {
    return Form().GetState();
}

std::int32_t CSocket_Client::LocalPort() const {
    return Form().myWinsock().LocalPort();
}

void CSocket_Client::SetLocalPort(std::int32_t port) {
    Form().myWinsock().SetLocalPort(port);
}

std::string CSocket_Client::RemoteHost() const {
    return Form().myWinsock().RemoteHost();
}

std::int32_t CSocket_Client::RemotePort() const {
    return Form().myWinsock().RemotePort();
}

void CSocket_Client::Connect(const std::string& Host, std::int32_t Port) {
    LastHost = Host;
    LastPort = Port;
    Form().myWinsock().Connect(LastHost, LastPort);
}

void CSocket_Client::ReConnect() {
    Form().myWinsock().Connect(LastHost, LastPort);
}

std::int32_t CSocket_Client::SendData(const DataValue& Data) {
    lastPacket_ = DataText(Data);
    Form().myWinsock().SendData(lastPacket_);
    return 0;
}

void CSocket_Client::ReSendData() {
    Form().myWinsock().SendData(lastPacket_);
}

void CSocket_Client::Disconnect() {
    Form().myWinsock().Close();
}

// The form goes from the event loop: Cancel may come from inside one of its events.
void CSocket_Client::Cancel() {
    if (!myWinsock_)
        return;
    myWinsock_->Cancel();
    myWinsock_->deleteLater();
    myWinsock_ = nullptr;
}

void CSocket_Client::SetProtocol(std::int32_t theType) {
    Form().myWinsock().SetProtocol(theType);
}

std::int32_t CSocket_Client::Protocol() const {
    return Form().myWinsock().Protocol();
}

std::string CSocket_Client::DataText(const DataValue& Data) {
    struct ToText {
        std::string operator()(std::monostate) const { return {}; }
        std::string operator()(std::nullptr_t) const {
            throw std::invalid_argument("Invalid use of Null");
        }
        std::string operator()(bool value) const { return value ? "True" : "False"; }
        std::string operator()(std::int64_t value) const { return IntToText(value); }
        std::string operator()(double value) const { return NumberToText(value); }
        std::string operator()(const std::string& value) const { return value; }
        std::string operator()(const std::vector<std::uint8_t>& value) const {
            return {value.begin(), value.end()};
        }
    };
    return std::visit(ToText{}, Data);
}

WinsockClient_Form& CSocket_Client::Form() const {
    if (!myWinsock_)
        throw std::logic_error("CSocket_Client used after Cancel");
    return *myWinsock_;
}

void CSocket_Client::myWinsock_Connect() {
    Events.Connect.Raise();
}

void CSocket_Client::myWinsock_Closed() {
    Events.Closed.Raise();
}

void CSocket_Client::myWinsock_SendComplete() {
    Events.SendComplete.Raise();
}

void CSocket_Client::myWinsock_DataArrival(const std::string& BinData,
                                           const std::string& RemoteHostIP) {
    Events.DataArrival.Raise(BinData, RemoteHostIP);
}

void CSocket_Client::myWinsock_Error(std::int32_t Error, const std::string& Description) {
    Events.Error.Raise(Error, Description);
}

} // namespace ornbrook
