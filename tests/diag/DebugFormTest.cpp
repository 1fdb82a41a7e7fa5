#include "diag/DebugForm.h"

#include "app/ProgramGlobals.h"
#include "platform/Clock.h"
#include "tests/support/TempProgramDir.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <thread>

using namespace ornbrook;

TEST(DebugForm, ColumnsAndRows) {
    DebugForm form;
    const QTreeWidgetItem* h1 = form.ListView1()->headerItem();
    EXPECT_EQ(h1->text(0), "Klasse");
    EXPECT_EQ(h1->text(1), "Anzahl");
    const QTreeWidgetItem* h2 = form.ListView2()->headerItem();
    const QStringList titles{"Prozess", "Durchschnitt", "L\u00e4ngste", "Anzahl", "Gesammt"};
    for (int c = 0; c < titles.size(); ++c)
        EXPECT_EQ(h2->text(c), titles[c]);
    EXPECT_EQ(form.windowTitle(), "DebugForm");

    form.ShowClassRow(1, {"UrlFileList", 3});
    form.ShowClassRow(2, {"Caf\xc3\xa9", 1});
    form.ShowClassRow(1, {"UrlFileList", 2});
    ASSERT_EQ(form.ListView1()->topLevelItemCount(), 2);
    EXPECT_EQ(form.ListView1()->topLevelItem(0)->text(1), "2");
    EXPECT_EQ(form.ListView1()->topLevelItem(1)->text(0), QString::fromUtf8("Caf\xc3\xa9"));

    form.ShowProzessRow(1, {"Event ATimer_Timer", 12.5, 15, 2, 25, ""});
    const QTreeWidgetItem* row = form.ListView2()->topLevelItem(0);
    EXPECT_EQ(row->text(1), "12.5");
    EXPECT_EQ(row->text(2), "15");
    EXPECT_EQ(row->text(3), "2");
    EXPECT_EQ(row->text(4), "25");
}

TEST(DebugForm, RefusesToCloseUntilUnloading) {
    DebugForm form;
    Unloading = false;
    form.show();
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    Unloading = true;
    EXPECT_TRUE(form.close());
    Unloading = false;
}

TEST(DebugForm, PaneFromAnotherThreadArrivesOnTheWindowThread) {
    DebugForm form;
    std::thread worker([&] { form.ShowPaneText("from worker\r\n"); });
    worker.join();
    QApplication::processEvents();
    EXPECT_TRUE(form.Text1()->toPlainText().startsWith("from worker"));
    // Bytes that are not UTF-8 are shown as Latin-1.
    form.ShowPaneText("ma\xdf");
    EXPECT_EQ(form.Text1()->toPlainText(), QString::fromUtf8("ma\xc3\x9f"));
}

TEST(DebugForm, TimingListFillsWhenTimedProcessesRun) {
    test::TempProgramDir dir;
    DebugForm* form = nullptr;
    SetDebugViewFactory([&form] {
        auto made = std::make_unique<DebugForm>();
        form = made.get();
        return made;
    });
    DebugActive = true;
    InitDebug();
    ShowDebugForm();
    ASSERT_NE(form, nullptr);
    {
        ManualClock clock(100);
        StartProzess("Event ATimer_Timer");
        clock.Advance(10);
        StopProzess("Event ATimer_Timer");
        StartProzess("Event ATimer_Timer");
        clock.Advance(15);
        StopProzess("Event ATimer_Timer");
        ProzessScope scope("CSocket_Connect");
    }
    QApplication::processEvents();
    QTreeWidget* list = form->ListView2();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    const QStringList first{"Event ATimer_Timer", "12.5", "15", "2", "25"};
    for (int c = 0; c < first.size(); ++c)
        EXPECT_EQ(list->topLevelItem(0)->text(c), first[c]);
    EXPECT_EQ(list->topLevelItem(1)->text(0), "CSocket_Connect");
    EXPECT_EQ(list->topLevelItem(1)->text(3), "1");
    ReleaseDebugView();
    SetDebugViewFactory({});
    InitDebug();
    DebugActive = false;
}
