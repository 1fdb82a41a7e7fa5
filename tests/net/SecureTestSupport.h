#pragma once

#include "net/CSocket.h"

#include "app/ProgramGlobals.h"
#include "diag/Debug_Modul.h"
#include "platform/Timer_Modul.h"
#include "tests/support/TempProgramDir.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>
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

} // namespace ornbrook::test
