#include "tests/ui/UiTestSupport.h"

#include "app/FileIO_Code.h"
#include "ftp/CheckRunner.h"
#include "model/MainInterface.h"
#include "model/MainInterface_Modul.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QTreeWidget>

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

void MainFormFixture::Load(const std::vector<UrlRecord>& urls, bool paintDuringChecks) {
    WriteWatchList(urls);
    CreateMainInterface();
    form = std::make_unique<MainForm>([this] { ++shutDowns; }, paintDuringChecks);
    form->Form_Load();
    form->show();
}

void MainFormFixture::TearDown() {
    form.reset();
    DestroyMainInterface();
    SetCheckRunner({});
}

MainInterface& MainFormFixture::Watch() {
    return *TheMainInterface;
}

QTreeWidgetItem* MainFormFixture::Item(int row) {
    return URLs().topLevelItem(row);
}

void MainFormFixture::Select(int row) {
    URLs().setCurrentItem(Item(row));
}

void MainFormFixture::Key(QWidget* target, Qt::Key key) {
    QTest::keyClick(target, key);
}

void MainFormFixture::EndEdit(const QString& text, Qt::Key key, bool replace) {
    QLineEdit* editor = OpenEditor(URLs().viewport());
    ASSERT_NE(editor, nullptr);
    if (replace)
        editor->clear();
    editor->deselect();
    editor->end(false);
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, key);
    // The edit's end runs from the event loop, after the editor has closed.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
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
