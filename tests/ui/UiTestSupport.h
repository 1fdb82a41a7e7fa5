#pragma once

#include "model/DataFileFormat.h"
#include "model/MainInterface_Modul.h"
#include "tests/support/TempProgramDir.h"
#include "ui/DividingLine.h"
#include "ui/FilesModel.h"
#include "ui/MainForm.h"

#include <QAccessible>
#include <QAction>
#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace ornbrook::test {

// The first accessible object under root (root included) with that role and
// name, as a screen reader finds it; none when there is none.
QAccessibleInterface* FindAccessible(QWidget* root, QAccessible::Role role, const QString& name);
// Presses it as a screen reader would.
void Press(QAccessibleInterface* accessible);

// WCAG 2 contrast ratio of two colours (1 to 21).
double Contrast(const QColor& a, const QColor& b);

// One URL of a watch list written straight into maindata.dat.
UrlRecord Watched(std::string url, std::string error = {}, std::vector<FileEntry> entries = {});
void WriteWatchList(const std::vector<UrlRecord>& urls);

// The open label editor of a list view's viewport, or none.
QLineEdit* OpenEditor(QWidget* viewport);

// How a row looks: its text, ":b" when bold, then ":g" grey, ":r" red (the
// colours of MainFormColours.h) or the colour's name when it is neither of
// them nor black.
QString Look(QString text, bool bold, const QColor& colour);

// A main window over a watch list loaded from the URLs given, in a fresh program
// directory, with the keys and label edits a user would make.
class MainFormFixture : public ::testing::Test {
protected:
    void Load(const std::vector<UrlRecord>& urls = {});
    void TearDown() override;

    MainInterface& Watch() { return *TheMainInterface; }
    // The window's parts, found by their object names.
    QTreeView& URLs() { return *form->findChild<QTreeView*>("URLs"); }
    QTreeView& Files() { return *form->findChild<QTreeView*>("Files"); }
    FilesModel* FilesList() { return dynamic_cast<FilesModel*>(Files().model()); }
    DividingLine& Divider() { return *form->findChild<DividingLine*>("DividingLine"); }
    QTimer* CheckTimer() { return form->findChild<QTimer*>("CheckTimer"); }
    qint64 CheckCounter() { return CheckTimer()->property("Tag").toLongLong(); }
    QLabel* StatusLine() { return form->findChild<QLabel*>("Progress"); }
    // The whole of the status line's message, as a screen reader reads it.
    QString StatusMessage() { return form->findChild<QLabel*>("StatusMessage")->accessibleName(); }
    QAction* Menu(const char* name) { return form->findChild<QAction*>(name); }
    QModelIndex Item(int row) { return URLs().model()->index(row, 0); }
    bool IsSelected(int row) { return URLs().selectionModel()->isRowSelected(row, {}); }
    void Select(int row) { URLs().setCurrentIndex(Item(row)); }
    // A key pressed where the user has the focus (its window active again
    // after a dialog, as a desktop makes it).
    void Key(QWidget* target, Qt::Key key) {
        target->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(target->window()));
        target->setFocus();
        QTest::keyClick(target, key);
    }
    // Every row of each list, as Look writes it.
    QStringList URLRows();
    QStringList FileRows();
    // Ends the open label edit with key after typing text at its end (after
    // clearing it first with replace).
    void EndEdit(const QString& text, Qt::Key key, bool replace = false);
    // Runs the event loop until no check is pending; false if one still is
    // after a generous while.
    bool WaitForChecks();

    TempProgramDir dir;
    std::unique_ptr<MainForm> form;
    int shutDowns = 0;
};

} // namespace ornbrook::test
