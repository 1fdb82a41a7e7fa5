#include "net/WinsockClient_Form.h"

#include "net/StateCode.h"
#include "net/WinsockControl.h"
#include "net/WinsockError.h"

namespace ornbrook {

WinsockClient_Form::WinsockClient_Form() : myWinsock_(new WinsockControl(this)) {
    auto& events = myWinsock_->Events;
    subscriptions_ += events.Connect.Connect([this] { myWinsock_Connect(); });
    subscriptions_ += events.Close.Connect([this] { myWinsock_Close(); });
    subscriptions_ += events.DataArrival.Connect(
        [this](std::int32_t bytesTotal) { myWinsock_DataArrival(bytesTotal); });
    subscriptions_ +=
        events.Error.Connect([this](std::int32_t number, const std::string& description) {
            myWinsock_Error(number, description);
        });
    subscriptions_ += events.SendComplete.Connect([this] { myWinsock_SendComplete(); });
}

WinsockClient_Form::~WinsockClient_Form() = default;

std::int32_t WinsockClient_Form::GetState() const {
    return StateCode(myWinsock_->State());
}

void WinsockClient_Form::Cancel() {
    myWinsock_->Close();
    theClass_ = nullptr;
    Events = EventList{};
}

void WinsockClient_Form::myWinsock_Connect() {
    Events.Connect.Raise();
}

void WinsockClient_Form::myWinsock_Close() {
    myWinsock_->Close();
    Events.Closed.Raise();
}

void WinsockClient_Form::myWinsock_DataArrival(std::int32_t bytesTotal) {
    std::string data;
    try {
        data = myWinsock_->GetData(bytesTotal);
    } catch (const WinsockError& failure) {
        myWinsock_Error(failure.Number(), failure.Description());
        return;
    }
    Events.DataArrival.Raise(data, myWinsock_->RemoteHostIP());
}

// The owner sees Closed before Error.
void WinsockClient_Form::myWinsock_Error(std::int32_t number, const std::string& description) {
    myWinsock_Close();
    Events.Error.Raise(number, description);
}

void WinsockClient_Form::myWinsock_SendComplete() {
    Events.SendComplete.Raise();
}

} // namespace ornbrook
