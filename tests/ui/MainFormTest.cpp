#include "ui/MainForm.h"

#include "app/FileIO_Code.h"
#include "ftp/CheckRunner.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/FilesModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace ornbrook;
using test::Watched;

namespace {

// A URL whose check fails at once: nothing listens on port 1.
const std::string Unreachable = "ftp://127.0.0.1:1/";

using MainFormTest = test::MainFormFixture;

TEST_F(MainFormTest, DisplayRulesOnRealItems) {
    const std::string latin1 = "ftp://\xe9t\xe9/"; // no UTF-8: matched by its bytes
    Load({Watched("ftp://failed/", "could not connect", {{"kept", 0}}),
          Watched("ftp://changed/", "", {{"old.txt", 0}, {"new.txt", 1}, {"gone.txt", 2}}),
          Watched(latin1, "", {{"a", 0}})});
    const QString shown = QString::fromLatin1(latin1.c_str());
    EXPECT_EQ(URLRows(), QStringList({"ftp://failed/:r", "ftp://changed/:b", shown}));
    EXPECT_TRUE(FileRows().isEmpty()); // nothing selected
    Select(1);
    EXPECT_EQ(FileRows(), QStringList({"old.txt", "new.txt:b", "gone.txt:g"}));
    Select(2);
    EXPECT_EQ(FileRows(), QStringList({"a"}));
    // An item whose bytes match no entry shows no files and stays as it is.
    Watch().RemoveURL(latin1);
    Watch().RaiseEvent_Change();
    EXPECT_TRUE(FileRows().isEmpty());
    EXPECT_EQ(URLRows().size(), 3);
}

TEST_F(MainFormTest, RedrawKeepsThePlaceInALongFileList) {
    std::vector<FileEntry> many;
    for (int i = 0; i < 500; ++i)
        many.push_back({"file" + std::to_string(i), 0});
    Load({Watched("ftp://many/", "", many), Watched("ftp://also/", "", many)});
    Select(0);
    QCoreApplication::processEvents();
    QScrollBar* bar = form->Files()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 100);
    bar->setValue(100);
    Watch().RaiseEvent_Change();
    EXPECT_EQ(bar->value(), 100);
    Select(1); // another URL starts at the top
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(MainFormTest, LabelEditsAddOrRenameOnlyWhenEnded) {
    Load({Watched("ftp://kept/")});
    // Esc abandons an insert and a rename: no entry is added, renamed or checked.
    Key(&URLs(), Qt::Key_Insert);
    EXPECT_TRUE(Item(1)->isSelected());
    EndEdit("somewhere/", Qt::Key_Escape);
    Select(0);
    Key(&URLs(), Qt::Key_F2);
    EndEdit("", Qt::Key_Escape, true);
    EXPECT_EQ(URLRows(), QStringList({"ftp://kept/", "ftp://"}));
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Watch().GetURL(1)->URL(), "ftp://kept/");

    // Insert, type, Enter adds and checks; the same text again adds nothing.
    for (const Qt::Key enter : {Qt::Key_Return, Qt::Key_Enter}) {
        Key(&URLs(), Qt::Key_Insert);
        EndEdit("127.0.0.1:1/", enter);
    }
    ASSERT_EQ(Watch().GetURLsCount(), 2);
    EXPECT_FALSE(Watch().GetURL(1)->IsError());
    EXPECT_EQ(Watch().GetURL(2)->GetErrorMsg(), "could not connect: connection refused");
    const QString added = QString::fromStdString(Unreachable) + ":r";
    EXPECT_EQ(URLRows(), QStringList({"ftp://kept/", "ftp://", added, added}));
}

TEST_F(MainFormTest, EnterDoubleClickAndDeleteActOnTheSelectedURL) {
    const std::string a = Unreachable + "a/", b = Unreachable + "b/";
    Load({Watched(a, "", {{"x", 0}}), Watched(b)});
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Delete, Qt::Key_F2})
        Key(&URLs(), key); // no selection: nothing
    EXPECT_EQ(test::OpenEditor(URLs().viewport()), nullptr);
    const QString qa = QString::fromStdString(a), qb = QString::fromStdString(b);
    EXPECT_EQ(URLRows(), QStringList({qa, qb}));
    Select(1);
    Key(form->Files(), Qt::Key_Return); // the key preview covers both lists
    EXPECT_EQ(URLRows(), QStringList({qa, qb + ":r"}));

    Select(0);
    // A double click is a click followed by the double-click event.
    const QPoint cell = URLs().visualItemRect(Item(0)).center();
    QTest::mouseClick(URLs().viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(URLs().viewport(), Qt::LeftButton, {}, cell);
    EXPECT_EQ(URLRows(), QStringList({qa + ":r", qb + ":r"}));

    Key(&URLs(), Qt::Key_Delete);
    ASSERT_EQ(Watch().GetURLsCount(), 1);
    EXPECT_EQ(Watch().GetURL(1)->URL(), b);
    EXPECT_EQ(URLRows(), QStringList({qb + ":r"}));
    // The file list keeps the deleted URL's files until the next redraw.
    EXPECT_EQ(FileRows(), QStringList({"x"}));
    Watch().RaiseEvent_Change();
    EXPECT_TRUE(FileRows().isEmpty());
}

TEST_F(MainFormTest, DividerDragsWithTheLeftButtonAlone) {
    WriteText(dir.File("MainForm_DividingLine.pos"), "left"); // no number: 0
    Load();
    EXPECT_EQ(form->DividerLeft(), 0);
    EXPECT_EQ(form->Files()->x(), 5); // 75 twips
    QWidget* bar = form->DividingLine();
    const auto move = [&](double x, Qt::MouseButtons buttons) {
        QMouseEvent event(QEvent::MouseMove, QPointF(x, 2), bar->mapToGlobal(QPointF(x, 2)),
                          Qt::NoButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    };
    move(20, Qt::RightButton);
    move(20, Qt::LeftButton | Qt::RightButton);
    EXPECT_EQ(form->DividerLeft(), 0);
    // 20 pixels are 300 twips; the bar's centre follows: 300 - 37.5, to even.
    move(20, Qt::LeftButton);
    EXPECT_EQ(form->DividerLeft(), 262);
    EXPECT_EQ(form->URLs()->width(), 17);
    EXPECT_EQ(form->Files()->x(), 22);
    // No limits: past the left edge, where the negative width is refused.
    move(-400, Qt::LeftButton);
    EXPECT_EQ(form->DividerLeft(), -5776);
    EXPECT_EQ(form->URLs()->width(), 17);
    move(400, Qt::LeftButton);

    // Unloading saves the placement and the divider, once.
    form->showMaximized();
    EXPECT_TRUE(form->close());
    form->close();
    EXPECT_EQ(shutDowns, 1);
    EXPECT_EQ(ReadFirstLine(dir.File("MainForm.pos"), "").substr(0, 2), "12");
    EXPECT_EQ(test::ReadBytes(dir.File("MainForm_DividingLine.pos")), " 186\r\n");
}

TEST_F(MainFormTest, PeriodicCheckArithmetic) {
    const struct {
        const char* interval; // nullptr: no file
        int ticks;
        int checks;
        std::int64_t counter;
    } cases[] = {
        {nullptr, 1, 0, 1}, {"0", 5, 0, 0},   {"a word", 5, 0, 0}, {"", 5, 0, 0},
        {"-3", 3, 3, 0},    {"2.5", 5, 1, 2}, {"3.5", 5, 1, 0},    {" 1", 4, 2, 0},
    };
    Load({Watched("ftp://127.0.0.1:1/a/")});
    EXPECT_TRUE(form->CheckTimer()->isActive());
    int checks = 0;
    SetCheckRunner([&](const BlockingWork& work) {
        ++checks;
        work();
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interval ? c.interval : "(missing)");
        form.reset();
        checks = 0;
        DeleteFileIfExists(dir.File("interval.dat"));
        if (c.interval)
            WriteText(dir.File("interval.dat"), c.interval);
        form = std::make_unique<MainForm>([] {});
        form->Form_Load();
        for (int t = 0; t < c.ticks; ++t)
            form->CheckTimer_Timer();
        EXPECT_EQ(checks, c.checks);
        EXPECT_EQ(form->CheckCounter(), c.counter);
        if (!c.interval) {
            EXPECT_EQ(test::ReadBytes(dir.File("interval.dat")), " 300\r\n");
        }
    }
    // The interval is read at every tick: a smaller one checks at the next.
    for (const char* interval : {"300", "300", "300", "2"}) {
        WriteText(dir.File("interval.dat"), interval);
        form->CheckTimer_Timer();
    }
    EXPECT_EQ(checks, 3);
}

// F1 and the menu show the help and the dialogs modal, centred over the window.
TEST_F(MainFormTest, HelpAndDialogsOpenModalOverTheWindow) {
    Load();
    form->setGeometry(100, 80, 500, 400);
    const QString help =
        "menue:\r\n\tRefresh (Alt + r): refreshs state of old and new files\r\n"
        "\tOptions (Alt + o): opens a dialog with changeable options\r\n"
        "\tHelp (Alt + h): opens this dialog\r\n"
        "\tAbout (Alt + a): opens a dialog with informations about the coder\r\n\r\n"
        "keys:\r\n\tF1: opens this dialog\r\n\tIns: inserts a new URL\r\n"
        "\tF2: edits selected URL\r\n\tDel: deletes selected URL\r\n"
        "\tEnter: checks selected URL for new files\r\n\tAlt + F4: exits this tool\r\n\r\n"
        "URLs-properties:\r\n\tbold: new or old files\r\n\tgrey: checking\r\n\tred: error\r\n\r\n"
        "Content-properties:\r\n\tbold: new file\r\n\tgrey: old file\r\n\r\n"
        "Send me a mail for more questions.";
    const std::function<void()> commands[] = {
        [&] { Key(form->Files(), Qt::Key_F1); }, [&] { form->Menu("mnuHelp")->trigger(); },
        [&] { form->Menu("mnuOptions")->trigger(); }, [&] { form->Menu("mnuAbout")->trigger(); }};
    QStringList seen;
    for (const auto& command : commands) {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            seen << dialog->windowTitle();
            const QPoint offset = dialog->geometry().center() - form->geometry().center();
            EXPECT_LE(offset.manhattanLength(), 2);
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                EXPECT_EQ(box->text(), help);
                EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            }
            dialog->close();
        });
        command();
    }
    EXPECT_EQ(seen, QStringList({"Help", "Help", "Options", "About"}));
}

TEST(FilesModel, PassesTheModelTesterWhileRefilled) {
    test::TempProgramDir dir;
    FilesModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    UrlFileList list;
    list.MergeFreshListing({"a", "b", "c"});
    model.Fill(list);
    list.RefreshList();
    list.MergeFreshListing({"b", "d"});
    model.Fill(list);
    EXPECT_EQ(model.rowCount(), 4);
    model.Clear();
    EXPECT_EQ(model.rowCount(), 0);
}

} // namespace
