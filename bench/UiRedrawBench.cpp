// Redraw of the main window: 200 watched URLs, the selected one with 100,000
// names (myMainInterface_Change, which refills the file list, then ShowFiles; and
// a refill that sorts every row), as against filling a plain QListWidget with the
// same names. Prints the median time
// of each and their ratio, measured side by side in this one run.

#include "base/ProgramGlobals.h"
#include "model/DataFileFormat.h"
#include "model/MainInterface.h"
#include "model/MainInterface_Modul.h"
#include "ui/DisplayText.h"
#include "ui/FilesModel.h"
#include "ui/MainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace ornbrook;

namespace {

constexpr int UrlCount = 200;
constexpr int NameCount = 100000;
constexpr int Rounds = 9;

std::vector<FileEntry> BigDirectory() {
    std::vector<FileEntry> entries{FileEntry{}};
    for (int i = 1; i <= NameCount; ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "release-%06d-linux-x86_64.tar.gz", i);
        // Mostly old files, every 50th new and every 70th gone.
        const std::int32_t state = i % 50 == 0   ? FileStateNew
                                   : i % 70 == 0 ? FileStateGone
                                                 : FileStateOld;
        entries.push_back({name, state});
    }
    return entries;
}

void WriteWatchList(const std::vector<FileEntry>& big) {
    std::string bytes;
    AppendFrame(bytes, "ftp://ftp.example.org/pub/big/", "", big);
    for (int u = 1; u < UrlCount; ++u) {
        std::vector<FileEntry> few{FileEntry{}, {"a.txt", 0}, {"b.txt", u % 3 == 0 ? 1 : 0}};
        AppendFrame(bytes, "ftp://ftp.example.org/pub/" + std::to_string(u) + "/",
                    u % 7 == 0 ? "could not connect" : "", few);
    }
    QFile file(QString::fromStdString(MainInterface::DataFileName()));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        std::exit(1);
}

double MedianMs(const std::function<void()>& run) {
    run(); // warm-up
    std::vector<double> times;
    for (int r = 0; r < Rounds; ++r) {
        QElapsedTimer clock;
        clock.start();
        run();
        QCoreApplication::processEvents(); // the visible rows are painted
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    ProgramDir = dir.path().toStdString() + "/";
    const std::vector<FileEntry> big = BigDirectory();
    WriteWatchList(big);
    CreateMainInterface();

    double window = 0;
    double sorted = 0;
    {
        MainForm form([] {});
        form.Form_Load();
        form.show();
        window = MedianMs([&] {
            form.myMainInterface_Change();
            form.ShowFiles();
        });
        // A refill that has to sort every row anew, as after a check that
        // moved marks.
        auto* files = static_cast<FilesModel*>(form.findChild<QTreeView*>("Files")->model());
        sorted = MedianMs([&] {
            files->Clear();
            form.ShowFiles();
        });
    }

    // The same names, bold when new and grey when gone, item by item.
    QListWidget list;
    list.setUniformItemSizes(true);
    list.show();
    QFont bold = list.font();
    bold.setBold(true);
    const double items = MedianMs([&] {
        list.clear();
        for (std::size_t i = 1; i < big.size(); ++i) {
            auto* item = new QListWidgetItem(DisplayText(big[i].Name), &list);
            if (big[i].State == FileStateNew)
                item->setFont(bold);
            else if (big[i].State == FileStateGone)
                item->setForeground(QColor(80, 80, 80));
        }
    });
    // The cheapest fill there is: names only, in one call.
    const double plain = MedianMs([&] {
        list.clear();
        QStringList names;
        names.reserve(NameCount);
        for (std::size_t i = 1; i < big.size(); ++i)
            names << DisplayText(big[i].Name);
        list.addItems(names);
    });
    DestroyMainInterface();

    std::printf("redraw, %d URLs, selected URL with %d names (median of %d):\n", UrlCount,
                NameCount, Rounds);
    std::printf("  main window (Change + ShowFiles)     %8.2f ms\n", window);
    std::printf("  ShowFiles with a full sort           %8.2f ms\n", sorted);
    std::printf("  QListWidget, items with font/colour  %8.2f ms   ratio %.3f\n", items,
                window / items);
    std::printf("  QListWidget::addItems, names only    %8.2f ms   ratio %.3f\n", plain,
                window / plain);
    return 0;
}
