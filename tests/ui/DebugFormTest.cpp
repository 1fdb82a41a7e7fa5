#include "ui/DebugForm.h"

#include "base/Clock.h"
#include "base/ProgramGlobals.h"
#include "tests/support/TempProgramDir.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <thread>

using namespace ornbrook;

namespace {

QStringList Texts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int c = 0; c < item->columnCount(); ++c)
        texts << item->text(c);
    return texts;
}

} // namespace

TEST(DebugForm, ListsFillWithLiveClassesAndTimedProcesses) {
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
    EXPECT_EQ(form->windowTitle(), "DebugForm");
    EXPECT_EQ(Texts(form->ListView1()->headerItem()), (QStringList{"Klasse", "Anzahl"}));
    EXPECT_EQ(Texts(form->ListView2()->headerItem()),
              (QStringList{"Prozess", "Durchschnitt", "L\u00e4ngste", "Anzahl", "Gesammt"}));
    {
        ManualClock clock(100);
        LiveObject one("Caf\xc3\xa9");
        LiveObject two = one; // NOLINT(performance-unnecessary-copy-initialization): counted
        for (const std::uint32_t ms : {10, 15}) {
            StartProzess("Event ATimer_Timer");
            clock.Advance(ms);
            StopProzess("Event ATimer_Timer");
        }
        ProzessScope scope("CSocket_Connect");
    }
    LiveObject three("Caf\xc3\xa9");
    QApplication::processEvents();
    ASSERT_EQ(form->ListView1()->topLevelItemCount(), 1); // a row per class, updated
    EXPECT_EQ(Texts(form->ListView1()->topLevelItem(0)),
              (QStringList{QString::fromUtf8("Caf\xc3\xa9"), "1"}));
    QTreeWidget* list = form->ListView2();
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(Texts(list->topLevelItem(0)),
              (QStringList{"Event ATimer_Timer", "12.5", "15", "2", "25"}));
    EXPECT_EQ(Texts(list->topLevelItem(1)), (QStringList{"CSocket_Connect", "0", "0", "1", "0"}));
    ReleaseDebugView();
    SetDebugViewFactory({});
    InitDebug();
    DebugActive = false;
}

TEST(DebugForm, RefusesToCloseUntilUnloadingAndTakesTextFromAnyThread) {
    DebugForm form;
    Unloading = false;
    form.show();
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    Unloading = true;
    EXPECT_TRUE(form.close());
    Unloading = false;

    std::thread worker([&] { form.ShowPaneText("from worker\r\n"); });
    worker.join();
    QApplication::processEvents();
    EXPECT_TRUE(form.Text1()->toPlainText().startsWith("from worker"));
    // Bytes that are not UTF-8 are shown as Latin-1.
    form.ShowPaneText("ma\xdf");
    EXPECT_EQ(form.Text1()->toPlainText(), QString::fromUtf8("ma\xc3\x9f"));
}
