#include "tests/ui/UiTestSupport.h"

#include "app/FileIO_Code.h"
#include "model/MainInterface.h"
#include "tests/support/TempProgramDir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace ornbrook::test {

UrlRecord Watched(std::string url, std::string error, std::vector<FileEntry> entries) {
    UrlRecord record{std::move(url), std::move(error), {FileEntry{}}};
    record.Entries.insert(record.Entries.end(), entries.begin(), entries.end());
    return record;
}

void WriteWatchList(const std::vector<UrlRecord>& urls) {
    std::string bytes;
    for (const UrlRecord& r : urls)
        AppendFrame(bytes, r.URL, r.ErrorMsg, r.Entries);
    WriteBytes(MainInterface::DataFileName(), bytes);
}

bool ProcessEventsUntil(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(5000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QLineEdit* OpenEditor(QWidget* viewport) {
    for (QLineEdit* editor : viewport->findChildren<QLineEdit*>()) {
        if (editor->isVisible())
            return editor;
    }
    return nullptr;
}

void Gate::Wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
}

void Gate::Open() {
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    opened_.notify_all();
}

} // namespace ornbrook::test
