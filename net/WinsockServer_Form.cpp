#include "net/WinsockServer_Form.h"

#include "base/NumberText.h"
#include "net/StateCode.h"
#include "net/WinsockControl.h"
#include "net/WinsockError.h"

#include <stdexcept>

namespace ornbrook {

WinsockServer_Form::WinsockServer_Form() : Listener_(new WinsockControl(this)) {
    auto& events = Listener_->Events;
    subscriptions_ += events.ConnectionRequest.Connect(
        [this](std::int32_t requestID) { Listener_ConnectionRequest(requestID); });
    subscriptions_ += events.DataArrival.Connect(
        [this](std::int32_t bytesTotal) { Listener_DataArrival(bytesTotal); });
    subscriptions_ +=
        events.Error.Connect([this](std::int32_t number, const std::string& description) {
            Listener_Error(number, description);
        });
    subscriptions_ += events.SendComplete.Connect([this] { Listener_SendComplete(); });
    // Element 0 exists from the start; it only carries the settings new elements copy.
    Clients_.push_back(new WinsockControl(this));
}

WinsockServer_Form::~WinsockServer_Form() = default;

bool WinsockServer_Form::Listen(std::int32_t Port) {
    const std::int32_t protocol = Listener_->Protocol();
    try {
        if (protocol == WinsockControl::sckTCPProtocol) {
            Listener_->SetLocalPort(Port);
            Listener_->Listen();
        } else if (protocol == WinsockControl::sckUDPProtocol) {
            Listener_->SetLocalPort(Port);
            Listener_->Bind(Port);
        }
    } catch (const WinsockError&) {
        WriteLog(std::string("ERROR: cannot listen to ") + (protocol == 0 ? "tcp" : "udp") +
                 " port " + IntToText(Port));
        return true;
    }
    return false;
}

void WinsockServer_Form::Disconnect(std::int32_t Index) {
    if (Index != 0) {
        if (Index > ClientsUBound())
            return;
        Clients(Index).Close();
        // Closed elements below an open one stay loaded for reuse.
        while (ClientsUBound() != 0 && GetState(ClientsUBound()) == 1)
            UnloadTopClient();
        return;
    }
    for (std::int32_t i = 1; i <= ClientsUBound(); ++i)
        Clients(i).Close();
    while (ClientsUBound() > 0)
        UnloadTopClient();
    Listener_->Close();
}

void WinsockServer_Form::SendData(std::int32_t Index, const std::string& Data) {
    Control(Index).SendData(Data);
}

std::int32_t WinsockServer_Form::GetPort(std::int32_t Index) const {
    return Control(Index).LocalPort();
}

std::string WinsockServer_Form::GetClientIP(std::int32_t Index) const {
    return Clients(Index).RemoteHostIP();
}

std::string WinsockServer_Form::GetServerIP(std::int32_t Index) const {
    return Clients(Index).LocalIP();
}

std::int32_t WinsockServer_Form::GetState(std::int32_t Index) const {
    return StateCode(Control(Index).State());
}

void WinsockServer_Form::Cancel() {
    WriteLog("Server_Cancel");
    Disconnect(0);
    theClass_ = nullptr;
    Events = EventList{};
}

WinsockControl& WinsockServer_Form::Clients(std::int32_t Index) const {
    if (Index < 0 || Index > ClientsUBound())
        throw std::out_of_range("Control array element '" + IntToText(Index) + "' doesn't exist");
    return *Clients_[static_cast<std::size_t>(Index)];
}

WinsockControl& WinsockServer_Form::Control(std::int32_t Index) const {
    return Index == 0 ? *Listener_ : Clients(Index);
}

// A new element copies element 0's settings, as a loaded control-array element does.
void WinsockServer_Form::LoadClient() {
    const std::int32_t index = ClientsUBound() + 1;
    auto* client = new WinsockControl(this);
    client->SetProtocol(Clients_.front()->Protocol());
    auto& events = client->Events;
    Subscriptions& subscriptions = clientSubscriptions_.emplace_back();
    subscriptions += events.Close.Connect([this, index] { Clients_Close(index); });
    subscriptions += events.DataArrival.Connect(
        [this, index](std::int32_t bytesTotal) { Clients_DataArrival(index, bytesTotal); });
    subscriptions +=
        events.Error.Connect([this, index](std::int32_t number, const std::string& description) {
            Clients_Error(index, number, description);
        });
    subscriptions += events.SendComplete.Connect([this, index] { Clients_SendComplete(index); });
    Clients_.push_back(client);
}

// Unloading may happen inside the element's own event, so it goes from the event loop.
void WinsockServer_Form::UnloadTopClient() {
    WinsockControl* client = Clients_.back();
    Clients_.pop_back();
    clientSubscriptions_.pop_back();
    client->Events = WinsockControl::EventList{};
    client->Close();
    client->deleteLater();
}

void WinsockServer_Form::Listener_ConnectionRequest(std::int32_t requestID) {
    std::int32_t index = 0;
    for (std::int32_t i = 1; i <= ClientsUBound(); ++i) {
        if (GetState(i) == 1) {
            index = i;
            break;
        }
    }
    if (index == 0) {
        LoadClient();
        index = ClientsUBound();
    }
    WinsockControl& client = Clients(index);
    try {
        // Closing and error states count as free too; Accept needs the element closed.
        if (client.State() != WinsockControl::sckClosed)
            client.Close();
        client.Accept(requestID);
    } catch (const WinsockError& failure) {
        while (ClientsUBound() != 0 && GetState(ClientsUBound()) == 1)
            UnloadTopClient();
        Listener_Error(failure.Number(), failure.Description());
        return;
    }
    Events.NewClient.Raise(index);
}

void WinsockServer_Form::Listener_DataArrival(std::int32_t bytesTotal) {
    std::string data;
    try {
        data = Listener_->GetData(bytesTotal);
    } catch (const WinsockError& failure) {
        Listener_Error(failure.Number(), failure.Description());
        return;
    }
    Events.DataArrival.Raise(0, data);
}

// The listener stays open after an error.
void WinsockServer_Form::Listener_Error(std::int32_t number, const std::string& description) {
    Events.Error.Raise(0, number, description);
}

void WinsockServer_Form::Listener_SendComplete() {
    Events.SendComplete.Raise(0);
}

void WinsockServer_Form::Clients_Close(std::int32_t Index) {
    Disconnect(Index);
    Events.Closed.Raise(Index);
}

void WinsockServer_Form::Clients_DataArrival(std::int32_t Index, std::int32_t bytesTotal) {
    std::string data;
    try {
        data = Clients(Index).GetData(bytesTotal);
    } catch (const WinsockError& failure) {
        Clients_Error(Index, failure.Number(), failure.Description());
        return;
    }
    Events.DataArrival.Raise(Index, data);
}

void WinsockServer_Form::Clients_Error(std::int32_t Index, std::int32_t number,
                                       const std::string& description) {
    Clients(Index).Close();
    Events.Error.Raise(Index, number, description);
}

void WinsockServer_Form::Clients_SendComplete(std::int32_t Index) {
    Events.SendComplete.Raise(Index);
}

} // namespace ornbrook
