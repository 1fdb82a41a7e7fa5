#pragma once

#include "net/CSocket.h"

#include "base/ProgramGlobals.h"
#include "diag/Debug_Modul.h"
#include "platform/Timer_Modul.h"
#include "tests/support/TempProgramDir.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ornbrook::test {

// Diagnostics on (live objects are counted), a program directory of its own,
// the timer service ready; sockets made through NewSocket are cancelled after.
class SocketFixture : public ::testing::Test {
protected:
    void SetUp() override {
        DebugActive = true;
        Unloading = false;
        InitDebug();
        ShowDebugForm();
        InitTimers();
    }
    void TearDown() override {
        for (const auto& socket : sockets_)
            socket->Cancel();
        QCoreApplication::processEvents();
        InitDebug();
        DebugActive = false;
    }
    std::shared_ptr<CSocket> NewSocket() {
        sockets_.push_back(CSocket::Create());
        return sockets_.back();
    }

    TempProgramDir dir_;
    std::vector<std::shared_ptr<CSocket>> sockets_;
};

using ErrorList = std::vector<std::pair<std::int32_t, std::string>>;

// What one socket raised, in order.
struct Recorder {
    std::vector<std::string> events; // every event but the data events and Error
    std::vector<SocketBytes> data;
    std::vector<std::string> lines;
    ErrorList errors;
    std::string remoteOfLastData;
    std::vector<std::string> sequence; // the names of all events, Error included

    void Watch(CSocket& s) {
        subscriptions_ += s.Events.Connect.Connect([this] { Add("Connect"); });
        subscriptions_ += s.Events.Closed.Connect([this] { Add("Closed"); });
        subscriptions_ += s.Events.SendComplete.Connect([this] { Add("SendComplete"); });
        subscriptions_ +=
            s.Events.DataArrival.Connect([this](const SocketBytes& bytes, const std::string& ip) {
                data.push_back(bytes);
                remoteOfLastData = ip;
                sequence.push_back("DataArrival");
            });
        subscriptions_ += s.Events.LineDataArrival.Connect(
            [this](const std::string& line, const std::string& ip) {
                lines.push_back(line);
                remoteOfLastData = ip;
                sequence.push_back("LineDataArrival");
            });
        subscriptions_ += s.Events.Error.Connect([this](std::int32_t n, const std::string& text) {
            errors.emplace_back(n, text);
            sequence.push_back("Error");
        });
        subscriptions_ += s.Events.ConnectionRequest.Connect([this] { Add("ConnectionRequest"); });
    }
    void Add(const std::string& event) {
        events.push_back(event);
        sequence.push_back(event);
    }
    int Count(const std::string& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
    bool Saw(const std::string& event) const { return Count(event) > 0; }
    std::string Received() const {
        std::string all;
        for (const auto& d : data)
            all.append(d.begin(), d.end());
        return all;
    }
    Subscriptions subscriptions_;
};

} // namespace ornbrook::test
