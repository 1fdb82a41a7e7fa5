#include "ui/PositionSaver.h"

#include "app/FileIO_Code.h"
#include "tests/support/TempProgramDir.h"

#include <QApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

using namespace ornbrook;

namespace {

class PositionSaverTest : public ::testing::Test {
protected:
    void Save(QWidget& window) {
        PositionSaver saver;
        saver.SetFormName("MainForm");
        saver.SetForm(&window);
        saver.SavePosition();
    }
    void Load(QWidget& window) {
        PositionSaver saver;
        saver.SetFormName("MainForm");
        saver.SetForm(&window);
        saver.LoadPosition();
    }
    std::string Line() { return ReadFirstLine(dir.File("MainForm.pos"), "?"); }

    QRect Screen() const { return QGuiApplication::primaryScreen()->geometry(); }

    test::TempProgramDir dir;
};

TEST_F(PositionSaverTest, FirstStartCreatesAnEmptyLineAndKeepsThePlacement) {
    QWidget window;
    window.setGeometry(30, 40, 300, 200);
    Load(window);
    EXPECT_EQ(test::ReadBytes(dir.File("MainForm.pos")), "\r\n");
    EXPECT_EQ(window.geometry(), QRect(30, 40, 300, 200));
    EXPECT_FALSE(window.isVisible());
}

TEST_F(PositionSaverTest, LineHoldsFlagStateAndFractionsOfTheScreen) {
    const QRect screen = Screen();
    ASSERT_EQ(screen.width() % 20, 0);
    ASSERT_EQ(screen.height() % 10, 0);
    QWidget window;
    window.setGeometry(screen.width() / 4, screen.height() / 10, screen.width() / 2,
                       screen.height() * 6 / 10);
    window.showMaximized();
    Save(window);
    EXPECT_EQ(test::ReadBytes(dir.File("MainForm.pos")), "12.25|.1_.5|.6\r\n");
    window.hide();
    window.setWindowState(Qt::WindowNoState);
    Save(window);
    EXPECT_EQ(Line(), "00.25|.1_.5|.6");
}

TEST_F(PositionSaverTest, PlacementRoundTripsInEveryWindowState) {
    const struct {
        Qt::WindowState state;
        char digit;
    } cases[] = {{Qt::WindowNoState, '0'}, {Qt::WindowMaximized, '2'}, {Qt::WindowMinimized, '1'}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.digit);
        const QRect normal(120, 90, 330, 210);
        QWidget before;
        before.setGeometry(normal);
        before.show();
        before.setWindowState(c.state);
        Save(before);
        EXPECT_EQ(Line().substr(0, 2), std::string("1") + c.digit);

        QWidget after;
        Load(after);
        EXPECT_TRUE(after.isVisible());
        EXPECT_EQ(after.windowState(), c.state);
        // The normal bounds come back, whatever state the window is in.
        after.setWindowState(Qt::WindowNoState);
        EXPECT_EQ(after.geometry(), normal);
    }
}

TEST_F(PositionSaverTest, ShortLines) {
    // Two characters: a zero rectangle at the screen's top-left corner.
    WriteText(dir.File("MainForm.pos"), "10");
    QWidget window;
    window.setGeometry(50, 60, 300, 200);
    Load(window);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.geometry().topLeft(), QPoint(0, 0));
    EXPECT_LT(window.width(), 300);
    EXPECT_LT(window.height(), 200);

    // One character cannot say the state: no saved placement.
    WriteText(dir.File("MainForm.pos"), "0");
    QWidget other;
    other.setGeometry(50, 60, 300, 200);
    Load(other);
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(other.geometry(), QRect(50, 60, 300, 200));

    // The visible flag 0 hides a shown window; words read as 0.
    WriteText(dir.File("MainForm.pos"), "0x.5|.5_.25|.25");
    other.show();
    Load(other);
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(other.windowState(), Qt::WindowNoState);
    EXPECT_EQ(other.geometry(), QRect(Screen().width() / 2, Screen().height() / 2,
                                      Screen().width() / 4, Screen().height() / 4));
}

TEST_F(PositionSaverTest, NothingIsSavedWithoutAWindow) {
    PositionSaver saver;
    saver.SetFormName("MainForm");
    saver.SavePosition();
    EXPECT_FALSE(FileExists(dir.File("MainForm.pos")));
    EXPECT_EQ(saver.GetFormName(), "MainForm");
}

} // namespace
