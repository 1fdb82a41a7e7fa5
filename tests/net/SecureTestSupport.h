#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <functional>

namespace ornbrook::test {

// Runs the event loop until the condition holds; false when it does not within
// a generous bound (a hung peer fails the test instead of hanging it).
inline bool WaitUntil(const std::function<bool()>& done) {
    QTimer tick;
    tick.start(5);
    const QDeadlineTimer deadline(20000);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace ornbrook::test
