#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"

#include <QObject>

#include <cstdint>
#include <string>

namespace ornbrook {

class CSocket_Client;
class WinsockControl;

// The hidden host of a CSocket_Client's control: it turns the control's events
// into the client's. It is a plain QObject, never a window, so shutting the
// program's windows down leaves it to its owner. Deleted with deleteLater, as it
// may be cancelled from inside one of its own events.
class WinsockClient_Form final : public QObject {
public:
    WinsockClient_Form();
    ~WinsockClient_Form() override;
    WinsockClient_Form(const WinsockClient_Form&) = delete;
    WinsockClient_Form& operator=(const WinsockClient_Form&) = delete;

    void SetClass(CSocket_Client* TheClass) { theClass_ = TheClass; }
    std::int32_t GetState() const;
    // Closes the control and lets go of the owner: no event reaches it afterwards.
    void Cancel();

    WinsockControl& myWinsock() const { return *myWinsock_; }

    struct EventList {
        Event<> Connect;
        Event<> Closed;
        Event<> SendComplete;
        Event<std::string, std::string> DataArrival; // BinData, RemoteHostIP
        Event<std::int32_t, std::string> Error;      // Error, Description
    };
    EventList Events;

private:
    void myWinsock_Connect();
    void myWinsock_Close();
    void myWinsock_DataArrival(std::int32_t bytesTotal);
    void myWinsock_Error(std::int32_t number, const std::string& description);
    void myWinsock_SendComplete();

    LiveObject live_{"WinsockClient_Form"};
    // Its handlers on the events of what it holds.
    Subscriptions subscriptions_;
    WinsockControl* myWinsock_;
    // The owner, for as long as it holds this form.
    CSocket_Client* theClass_ = nullptr;
};

} // namespace ornbrook
