#include "ui/CheckPump.h"

#include "model/MainInterface.h"

#include <QCoreApplication>
#include <atomic>

namespace ornbrook {

void InstallCheckPump(const std::shared_ptr<MainInterface>& watchList) {
    const std::weak_ptr<MainInterface> weak = watchList;
    auto posted = std::make_shared<std::atomic<bool>>(false);
    watchList->SetCheckWakeUp([weak, posted] {
        if (posted->exchange(true))
            return;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [weak, posted] {
                *posted = false;
                if (const auto list = weak.lock())
                    list->DeliverCheckResults();
            },
            Qt::QueuedConnection);
    });
}

} // namespace ornbrook
