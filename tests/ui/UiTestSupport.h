#pragma once

#include "model/DataFileFormat.h"
#include "tests/support/TempProgramDir.h"
#include "ui/MainForm.h"

#include <QColor>
#include <QLineEdit>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ornbrook {
class MainInterface;
}
class QTreeWidget;
class QTreeWidgetItem;

namespace ornbrook::test {

// One URL of a watch list written straight into maindata.dat.
UrlRecord Watched(std::string url, std::string error = {}, std::vector<FileEntry> entries = {});
void WriteWatchList(const std::vector<UrlRecord>& urls);

// Processes events until the condition holds or about five seconds have passed.
bool ProcessEventsUntil(const std::function<bool()>& condition);

// The open label editor of a list view's viewport, or none.
QLineEdit* OpenEditor(QWidget* viewport);

// The colours of the display rules.
inline const QColor Grey{80, 80, 80};
inline const QColor Red{255, 0, 0};
inline const QColor Black{0, 0, 0};

// A main window over a watch list loaded from the URLs given, in a fresh program
// directory, with the keys and label edits a user would make.
class MainFormFixture : public ::testing::Test {
protected:
    void Load(const std::vector<UrlRecord>& urls = {}, bool paintDuringChecks = false);
    void TearDown() override;

    MainInterface& Watch();
    QTreeWidget& URLs() { return *form->URLs(); }
    QTreeWidgetItem* Item(int row);
    void Select(int row);
    void Key(QWidget* target, Qt::Key key);
    // Ends the open label edit with key after typing text at its end (after
    // clearing it first with replace).
    void EndEdit(const QString& text, Qt::Key key, bool replace = false);

    TempProgramDir dir;
    std::unique_ptr<MainForm> form;
    int shutDowns = 0;
};

// A gate that holds a worker thread until the test opens it.
class Gate {
public:
    void Wait();
    void Open();

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

} // namespace ornbrook::test
