#include "net/CSocket_Server.h"

#include "net/WinsockControl.h"
#include "net/WinsockServer_Form.h"

#include <stdexcept>

namespace ornbrook {

CSocket_Server::CSocket_Server() : myWinsocks_(new WinsockServer_Form) {
    myWinsocks_->SetClass(this);
    auto& events = myWinsocks_->Events;
    subscriptions_ += events.Error.Connect(
        [this](std::int32_t Index, std::int32_t Number, const std::string& Description) {
            myWinsocks_Error(Index, Number, Description);
        });
    subscriptions_ +=
        events.NewClient.Connect([this](std::int32_t Index) { myWinsocks_NewClient(Index); });
    subscriptions_ +=
        events.SendComplete.Connect([this](std::int32_t Index) { myWinsocks_SendComplete(Index); });
    subscriptions_ +=
        events.DataArrival.Connect([this](std::int32_t Index, const std::string& Data) {
            myWinsocks_DataArrival(Index, Data);
        });
    subscriptions_ +=
        events.Closed.Connect([this](std::int32_t Index) { myWinsocks_Closed(Index); });
}

CSocket_Server::~CSocket_Server() {
    Cancel();
}

// The form goes from the event loop: Cancel may come from inside one of its events.
void CSocket_Server::Cancel() {
    if (!myWinsocks_)
        return;
    myWinsocks_->Cancel();
    myWinsocks_->deleteLater();
    myWinsocks_ = nullptr;
}

bool CSocket_Server::Listen(std::int32_t Port) {
    return myWinsocks().Listen(Port);
}

void CSocket_Server::Disconnect(std::int32_t Index) {
    myWinsocks().Disconnect(Index);
}

std::int32_t CSocket_Server::GetPort(std::int32_t Index) const {
    return myWinsocks().GetPort(Index);
}

std::int32_t CSocket_Server::GetState(std::int32_t Index) const {
    return myWinsocks().GetState(Index);
}

void CSocket_Server::SendData(std::int32_t Index, const std::string& Data) {
    lastIndex_ = Index;
    lastData_ = Data;
    myWinsocks().SendData(Index, Data);
}

void CSocket_Server::ReSendData() {
    myWinsocks().SendData(lastIndex_, lastData_);
}

std::string CSocket_Server::GetClientIP(std::int32_t Index) const {
    return myWinsocks().GetClientIP(Index);
}

std::string CSocket_Server::GetServerIP(std::int32_t Index) const {
    return myWinsocks().GetServerIP(Index);
}

void CSocket_Server::SetProtocol(std::int32_t theType) {
    WinsockServer_Form& form = myWinsocks();
    form.Listener().SetProtocol(theType);
    for (std::int32_t i = 0; i <= form.ClientsUBound(); ++i)
        form.Clients(i).SetProtocol(theType);
}

std::int32_t CSocket_Server::Protocol() const {
    return myWinsocks().Listener().Protocol();
}

const WinsockServer_Form& CSocket_Server::Form() const {
    return myWinsocks();
}

WinsockServer_Form& CSocket_Server::myWinsocks() const {
    if (!myWinsocks_)
        throw std::logic_error("CSocket_Server used after Cancel");
    return *myWinsocks_;
}

void CSocket_Server::myWinsocks_Error(std::int32_t Index, std::int32_t Number,
                                      const std::string& Description) {
    Events.Error.Raise(Index, Number, Description);
}

void CSocket_Server::myWinsocks_NewClient(std::int32_t Index) {
    Events.NewClient.Raise(Index);
}

void CSocket_Server::myWinsocks_SendComplete(std::int32_t Index) {
    Events.SendComplete.Raise(Index);
}

void CSocket_Server::myWinsocks_DataArrival(std::int32_t Index, const std::string& Data) {
    Events.DataArrival.Raise(Index, Data);
}

void CSocket_Server::myWinsocks_Closed(std::int32_t Index) {
    Events.Closed.Raise(Index);
}

} // namespace ornbrook
