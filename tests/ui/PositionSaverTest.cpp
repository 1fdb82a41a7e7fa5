#include "ui/PositionSaver.h"

#include "base/FileIO_Code.h"
#include "tests/support/TempProgramDir.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

using namespace ornbrook;

namespace {

void Place(QWidget& window, bool save) {
    PositionSaver saver;
    saver.SetFormName("MainForm");
    saver.SetForm(&window);
    save ? saver.SavePosition() : saver.LoadPosition();
}

TEST(PositionSaver, RoundTripsInEveryWindowState) {
    test::TempProgramDir dir;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    ASSERT_EQ(screen.width() % 20, 0);
    ASSERT_EQ(screen.height() % 10, 0);
    const QRect normal(screen.width() / 4, screen.height() / 10, screen.width() / 2,
                       screen.height() * 6 / 10);
    const struct {
        Qt::WindowState state;
        bool shown;
        const char* line;
    } cases[] = {{Qt::WindowNoState, true, "10.25|.1_.5|.6\r\n"},
                 {Qt::WindowMaximized, true, "12.25|.1_.5|.6\r\n"},
                 {Qt::WindowMinimized, true, "11.25|.1_.5|.6\r\n"},
                 {Qt::WindowNoState, false, "00.25|.1_.5|.6\r\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        QWidget before;
        before.setGeometry(normal);
        before.setVisible(c.shown);
        before.setWindowState(c.state);
        Place(before, true);
        EXPECT_EQ(test::ReadBytes(dir.File("MainForm.pos")), c.line);

        QWidget after;
        after.show();
        Place(after, false);
        EXPECT_EQ(after.isVisible(), c.shown);
        EXPECT_EQ(after.windowState(), c.state);
        // The normal bounds come back, whatever state the window is in.
        after.setWindowState(Qt::WindowNoState);
        EXPECT_EQ(after.geometry(), normal);
    }
}

TEST(PositionSaver, ShortLines) {
    test::TempProgramDir dir;
    const QRect start(50, 60, 300, 200);
    // No file (created empty) and one character, which cannot say the state, are
    // no placement; two characters are a zero rectangle at the top-left corner.
    for (const char* line : {"", "0", "10"}) {
        SCOPED_TRACE(line);
        if (*line)
            WriteText(dir.File("MainForm.pos"), line);
        QWidget window;
        window.setGeometry(start);
        window.show();
        Place(window, false);
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(test::ReadBytes(dir.File("MainForm.pos")), line + std::string("\r\n"));
        if (*line == '1') {
            EXPECT_EQ(window.geometry().topLeft(), QPoint(0, 0));
            EXPECT_LT(window.width(), start.width());
        } else {
            EXPECT_EQ(window.geometry(), start);
        }
    }
}

} // namespace
