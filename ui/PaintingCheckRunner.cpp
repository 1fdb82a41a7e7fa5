#include "ui/PaintingCheckRunner.h"

#include <QEventLoop>
#include <atomic>
#include <exception>
#include <thread>

namespace ornbrook {

void RunKeepingWindowPainted(const BlockingWork& work) {
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        // Queued to the loop's thread; dropped if the loop is already gone.
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    // The loop also ends when the application quits; the work is awaited either way.
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace ornbrook
