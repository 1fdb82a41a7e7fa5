// The file pane when a check changes 10 rows of the URL shown, which has
// 100,000 files (5 go, 5 come): refilled as a whole (a model reset, as every
// check did before; it did so twice per check) against the rows updated in
// place (moved, inserted, redrawn). Both panes are on screen with 3 files
// selected; each time includes the paint that follows. Prints the median of
// each and their ratio, measured side by side in this one run.

#include "base/ProgramGlobals.h"
#include "model/UrlFileList.h"
#include "ui/FilesModel.h"
#include "ui/FilesView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace ornbrook;

namespace {

constexpr int NameCount = 100000;
constexpr int Rounds = 15;

std::string Name(int i) {
    char name[48];
    std::snprintf(name, sizeof name, "release-%06d-linux-x86_64.tar.gz", i);
    return name;
}

Listing Names(const std::vector<std::string>& names) {
    Listing listing;
    listing.Entries.reserve(names.size());
    for (const std::string& name : names)
        listing.Entries.push_back({name});
    return listing;
}

struct Pane {
    QTreeView View;
    FilesModel Model;

    explicit Pane(const UrlFileList& list) {
        View.setRootIsDecorated(false);
        View.setUniformRowHeights(true);
        View.setSelectionMode(QAbstractItemView::ExtendedSelection);
        View.setModel(&Model);
        SetUpFilesView(&View, &Model);
        View.resize(700, 800);
        View.show();
        Refill(list);
    }
    void Refill(const UrlFileList& list) {
        Model.Fill(list);
        for (const int row : {10, 11, 500})
            View.selectionModel()->select(Model.index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCoreApplication::processEvents();
    }
};

// The time of run, and of it with the view's layout and paint that follow.
std::pair<double, double> Ms(const std::function<void()>& run) {
    QElapsedTimer clock;
    clock.start();
    run();
    const double alone = double(clock.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents(); // the visible rows are painted
    return {alone, double(clock.nsecsElapsed()) / 1e6};
}

double Median(std::vector<double> times) {
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

    std::vector<std::string> names;
    for (int i = 1; i <= NameCount; ++i)
        names.push_back(Name(i));
    UrlFileList list;
    list.SetURL("ftp://ftp.example.org/pub/big/");
    list.MergeFreshListing(Names(names));
    list.RefreshList();

    Pane reset(list);
    Pane inPlace(list);
    std::vector<double> refilled;
    std::vector<double> updated;
    std::vector<double> model;
    bool kept = true;
    for (int r = 0; r <= Rounds; ++r) {
        // 5 files go, 5 come; spread over the directory.
        std::vector<std::string> listed = names;
        for (int k = 0; k < 5; ++k)
            listed.erase(listed.begin() + (r * 5 + k) * 997 % static_cast<int>(listed.size()));
        for (int k = 0; k < 5; ++k)
            listed.push_back("upload-" + std::to_string(r) + "-" + std::to_string(k));
        const UrlFileList::CheckReport report = list.MergeFreshListing(Names(listed));
        const auto a = Ms([&] { reset.Model.Fill(list); });
        const auto b = Ms([&] { inPlace.Model.Update(list, report.Entries); });
        kept = kept && inPlace.View.selectionModel()->selectedRows().size() == 3;
        if (r > 0) { // the first is a warm-up
            refilled.push_back(a.second);
            updated.push_back(b.second);
            model.push_back(b.first);
        }
        // Acknowledged, so that each round changes 10 rows of 100,000.
        names = std::move(listed);
        list.RefreshList();
        reset.Refill(list);
        inPlace.Refill(list);
    }
    const double before = Median(refilled);
    const double after = Median(updated);
    std::printf("file pane, %d rows, a check that changes 10 of them (median of %d):\n", NameCount,
                Rounds);
    std::printf("  refill (model reset)          %8.3f ms   (the old route did it twice)\n",
                before);
    std::printf("  in place (insert, move, data) %8.3f ms   %.1fx faster%s\n", after,
                before / after, kept ? "" : "  SELECTION LOST");
    std::printf("    of which the model's update  %8.3f ms   (the rest: the tree view lays out "
                "every row again after an insert or move, as after a reset)\n",
                Median(model));
    return kept ? 0 : 1;
}
