// An idle window is idle: whatever it shows and however large it is, its
// layout settles in one pass and then waits for the next tick or the user.
#include "tests/ui/UiTestSupport.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTreeView>
#include <gtest/gtest.h>
#include <map>

using namespace ornbrook;
using test::Watched;

namespace {

using IdleWindowTest = test::MainFormFixture;

// Counts, per scroll area, the layout passes and the showing and hiding of its
// scroll bars: each is what a layout that feeds on itself repeats.
class LayoutCounter final : public QObject {
public:
    LayoutCounter() { qApp->installEventFilter(this); }
    ~LayoutCounter() override { qApp->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if (type == QEvent::LayoutRequest && qobject_cast<QAbstractScrollArea*>(watched))
            ++passes[watched->objectName()];
        if ((type == QEvent::Show || type == QEvent::Hide) && qobject_cast<QScrollBar*>(watched))
            if (QWidget* area = ScrollAreaOf(static_cast<QWidget*>(watched)))
                ++passes[area->objectName()];
        return false;
    }

    std::map<QString, int> passes;

private:
    static QWidget* ScrollAreaOf(QWidget* widget) {
        for (QWidget* up = widget->parentWidget(); up; up = up->parentWidget())
            if (qobject_cast<QAbstractScrollArea*>(up))
                return up;
        return nullptr;
    }
};

std::vector<FileEntry> Numbered(int count, const std::string& stem) {
    std::vector<FileEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back({stem + std::to_string(1000 + i) + ".txt", i % 3});
    return entries;
}

TEST_F(IdleWindowTest, LayoutSettlesInOnePassAtEverySizeAndInEveryState) {
    const std::string longName = "report-" + std::string(300, 'x') + ".csv";
    Load({Watched("ftp://127.0.0.1:1/a/", "", Numbered(60, "file-")),
          Watched("ftp://127.0.0.1:1/b/", "", Numbered(60, "other-")),
          Watched("ftp://127.0.0.1:1/failed/", "could not connect: refused"),
          Watched("ftp://127.0.0.1:1/empty/"),
          Watched("ftp://127.0.0.1:1/" + std::string(150, 'u') + "/", "", {{longName, 1}})});
    const QSize sizes[] = {{320, 240}, {451, 394}, {1100, 700}, {700, 260}};
    for (const QSize size : sizes) {
        form->resize(size);
        for (int row = 0; row < URLs().model()->rowCount(); ++row)
            for (const int divider : {600, 4200}) {
                Select(row);
                form->MoveDividingLine(divider);
                // What a resize or a new URL asks of the layout is done in a
                // pass or two (however slow the machine)...
                QTest::qWait(20);
                LayoutCounter counter;
                // ...and then nothing more happens until someone acts; a layout
                // that feeds on itself runs thousands of passes meanwhile.
                QTest::qWait(40);
                for (const auto& [area, passes] : counter.passes)
                    EXPECT_LE(passes, 2)
                        << area.toStdString() << " at " << size.width() << "x" << size.height()
                        << ", row " << row << ", divider " << divider;
                if (HasFailure())
                    return;
            }
    }
}

} // namespace
