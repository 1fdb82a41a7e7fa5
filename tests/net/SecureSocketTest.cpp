#include "net/CSocketSecure.h"

#include "diag/Debug_Modul.h"
#include "tests/net/NetTestSupport.h"
#include "tests/net/SecureTestSupport.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace ornbrook;
using ornbrook::test::SocketFixture;
using ornbrook::test::WaitFor;

namespace {

// Runs work on a thread with a small stack, so that a nesting depth growing
// with a chain's length fails for certain instead of by luck.
void RunOnSmallStack(const std::function<void()>& work) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    pthread_t thread;
    auto* job = new std::function<void()>(work);
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void* argument) -> void* {
                      std::unique_ptr<std::function<void()>> own(
                          static_cast<std::function<void()>*>(argument));
                      (*own)();
                      return nullptr;
                  },
                  job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

// Records what the owner of a secure socket is told, in order, with "tick"
// marks: every delivered event posts one that runs on the next turn of the
// event loop, so two deliveries in one tick would show without a mark between.
struct Owner {
    explicit Owner(const std::shared_ptr<CSocketSecure>& socket) {
        auto& e = socket->Events;
        subscriptions_ += e.Connect.Connect([this] { Record("Connect"); });
        subscriptions_ += e.Closed.Connect([this] { Record("Closed"); });
        subscriptions_ += e.SendComplete.Connect([this] { Record("SendComplete"); });
        subscriptions_ +=
            e.DataArrival.Connect([this](const std::string& data, const std::string& ip) {
                Record("DataArrival " + data + " " + ip);
            });
        subscriptions_ +=
            e.LineDataArrival.Connect([this](const std::string& line, const std::string& ip) {
                Record("LineDataArrival " + line + " " + ip);
            });
        subscriptions_ += e.Error.Connect([this](std::int32_t number, const std::string& text) {
            Record("Error " + std::to_string(number) + " " + text);
        });
        subscriptions_ += e.ConnectionRequest.Connect([this] { Record("ConnectionRequest"); });
    }
    void Record(const std::string& what) {
        events.push_back(what);
        log.push_back(what);
        QTimer::singleShot(0, &context, [this] { log.push_back("tick"); });
        if (onEvent)
            onEvent(what);
    }
    std::vector<std::string> events;
    std::vector<std::string> log;
    std::function<void(const std::string&)> onEvent;
    QObject context; // drops the marks still pending when the owner goes
    Subscriptions subscriptions_;
};

class SecureSocketTest : public SocketFixture {
protected:
    // Plays a notification of the wrapped socket, as the socket runtime would.
    static void Notify(CSocketSecure& secure, int n) {
        secure.mySocket->Events.DataArrival.Raise(SocketBytes{static_cast<std::uint8_t>('a' + n)},
                                                  "10.0.0.1");
    }
};

TEST_F(SecureSocketTest, DeliversInOrderOnePerTickNeverInsideTheNotification) {
    auto secure = CSocketSecure::Create();
    Owner owner(secure);
    // An event arriving while the owner handles one queues behind the rest.
    owner.onEvent = [&](const std::string& what) {
        if (what == "Connect") {
            Notify(*secure, 2);
            EXPECT_EQ(owner.events.size(), 1u);
        }
    };
    auto& e = secure->mySocket->Events;
    e.Connect.Raise();
    e.DataArrival.Raise(SocketBytes{'x', 0, 0xFF, 'y'}, "127.0.0.1");
    e.LineDataArrival.Raise("a line", "127.0.0.1");
    e.Error.Raise(7, "error on connecting");
    e.SendComplete.Raise();
    e.ConnectionRequest.Raise();
    e.Closed.Raise();
    EXPECT_TRUE(owner.events.empty()) << "delivered inside the notification";

    ASSERT_TRUE(WaitFor([&] { return owner.events.size() == 8; }));
    const std::vector<std::string> expected{"Connect",
                                            "DataArrival " + std::string("x\0\xFFy", 4) +
                                                " 127.0.0.1",
                                            "LineDataArrival a line 127.0.0.1",
                                            "Error 7 error on connecting",
                                            "SendComplete",
                                            "ConnectionRequest",
                                            "Closed",
                                            "DataArrival c 10.0.0.1"};
    EXPECT_EQ(owner.events, expected);
    ASSERT_TRUE(WaitFor([&] { return owner.log.size() == 16; }));
    for (std::size_t i = 1; i < owner.log.size(); i += 2)
        EXPECT_EQ(owner.log[i], "tick") << "two events in one tick before " << owner.log[i];
    secure->Cancel();
}

TEST_F(SecureSocketTest, OverloadRaisesAtOnceDropsTheQueueAndCloses) {
    auto secure = CSocketSecure::Create();
    Owner owner(secure);
    secure->BufferSize = 2;
    secure->Listen();
    ASSERT_EQ(secure->State(), CSocket::StateListening);
    for (int n = 0; n < 3; ++n)
        Notify(*secure, n);
    EXPECT_TRUE(owner.events.empty());
    Notify(*secure, 3); // a fourth while three wait
    ASSERT_EQ(owner.events, std::vector<std::string>{"Error -1 buffer overloaded"});
    EXPECT_EQ(secure->State(), CSocket::StateClosed);

    // The next event finds an empty queue and is the only one delivered.
    Notify(*secure, 4);
    ASSERT_TRUE(WaitFor([&] { return owner.events.size() == 2; }));
    EXPECT_EQ(owner.events[1], "DataArrival e 10.0.0.1");
    secure->Cancel();
}

TEST_F(SecureSocketTest, NothingIsDeliveredAfterCancel) {
    enum class When { BeforeTheFirstTick, InsideADeliveredEvent };
    for (const When when : {When::BeforeTheFirstTick, When::InsideADeliveredEvent}) {
        auto secure = CSocketSecure::Create();
        Owner owner(secure);
        if (when == When::InsideADeliveredEvent)
            owner.onEvent = [&](const std::string&) { secure->Cancel(); };
        for (int n = 0; n < 3; ++n)
            Notify(*secure, n);
        if (when == When::BeforeTheFirstTick)
            secure->Cancel();

        // A second socket with the same delay paces the wait: by the time it
        // has delivered five events, the first would have delivered its three.
        auto pace = CSocketSecure::Create();
        Owner paceOwner(pace);
        for (int n = 0; n < 5; ++n)
            Notify(*pace, n);
        ASSERT_TRUE(WaitFor([&] { return paceOwner.events.size() == 5; }));
        EXPECT_EQ(owner.events.size(), when == When::BeforeTheFirstTick ? 0u : 1u);
        EXPECT_EQ(secure->mySocket, nullptr);
        EXPECT_EQ(secure->State(), CSocket::StateClosed);
        pace->Cancel();
    }
}

// No bound (0 or less) keeps every event; a queue of 100,000 goes without a
// deep recursion.
TEST_F(SecureSocketTest, NoBoundNeverDiscardsAndHundredThousandEventsAreCancelledFlat) {
    for (const std::int32_t bound : {0, -1}) {
        auto secure = CSocketSecure::Create();
        Owner owner(secure);
        secure->BufferSize = bound;
        for (int n = 0; n < 100000; ++n)
            Notify(*secure, n % 26);
        EXPECT_EQ(LiveCount("AEventItem"), 100000) << bound;
        RunOnSmallStack([&] { secure->Cancel(); });
        EXPECT_EQ(LiveCount("AEventItem"), 0);
        EXPECT_TRUE(owner.events.empty());
    }
}

} // namespace
