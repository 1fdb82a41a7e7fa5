#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"

#include <QObject>

#include <cstdint>
#include <string>
#include <vector>

namespace ornbrook {

class CSocket_Server;
class WinsockControl;

// The hidden host of a CSocket_Server: the control Listener and the control array
// Clients, whose element 0 is always there and never holds a connection. Each
// accepted connection takes the lowest closed element from 1 up, or a new one on
// top; closed elements are unloaded from the top down. Index 0 stands for the
// Listener (the listening port and UDP traffic), 1 and up for Clients.
// A plain QObject, never a window; deleted with deleteLater (see WinsockClient_Form).
class WinsockServer_Form final : public QObject {
public:
    WinsockServer_Form();
    ~WinsockServer_Form() override;
    WinsockServer_Form(const WinsockServer_Form&) = delete;
    WinsockServer_Form& operator=(const WinsockServer_Form&) = delete;

    void SetClass(CSocket_Server* TheClass) { theClass_ = TheClass; }
    // True when listening (TCP) or binding (UDP) failed; that is logged.
    bool Listen(std::int32_t Port);
    // 0: every connection and the listener. An index above the highest does nothing.
    void Disconnect(std::int32_t Index);
    void SendData(std::int32_t Index, const std::string& Data);
    std::int32_t GetPort(std::int32_t Index) const;
    std::string GetClientIP(std::int32_t Index) const;
    std::string GetServerIP(std::int32_t Index) const;
    // 1 closed, 2 listening, 3 connecting, 4 connected.
    std::int32_t GetState(std::int32_t Index) const;
    // Closes everything and lets go of the owner: no event reaches it afterwards.
    void Cancel();

    WinsockControl& Listener() const { return *Listener_; }
    // Loaded elements of Clients; std::out_of_range for an index that is not loaded.
    WinsockControl& Clients(std::int32_t Index) const;
    std::int32_t ClientsUBound() const { return static_cast<std::int32_t>(Clients_.size()) - 1; }

    struct EventList {
        // Number: a Winsock number or one of the control's own, some of which
        // (40006 and up) do not fit 16 bits.
        Event<std::int32_t, std::int32_t, std::string> Error; // Index, Number, Description
        Event<std::int32_t> NewClient;
        Event<std::int32_t> SendComplete;
        Event<std::int32_t, std::string> DataArrival; // Index, Data
        Event<std::int32_t> Closed;
    };
    EventList Events;

private:
    WinsockControl& Control(std::int32_t Index) const;
    void LoadClient();
    void UnloadTopClient();
    void Listener_ConnectionRequest(std::int32_t requestID);
    void Listener_DataArrival(std::int32_t bytesTotal);
    void Listener_Error(std::int32_t number, const std::string& description);
    void Listener_SendComplete();
    void Clients_Close(std::int32_t Index);
    void Clients_DataArrival(std::int32_t Index, std::int32_t bytesTotal);
    void Clients_Error(std::int32_t Index, std::int32_t number, const std::string& description);
    void Clients_SendComplete(std::int32_t Index);

    LiveObject live_{"WinsockServer_Form"};
    // Its handlers on the listener's events, and on each client's.
    Subscriptions subscriptions_;
    std::vector<Subscriptions> clientSubscriptions_;
    WinsockControl* Listener_;
    std::vector<WinsockControl*> Clients_;
    // The owner, for as long as it holds this form.
    CSocket_Server* theClass_ = nullptr;
};

} // namespace ornbrook
