#include "ui/FilesView.h"

#include "model/MainInterface.h"
#include "ui/FilesModel.h"
#include "ui/ListViewDelegate.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTreeView>
#include <algorithm>
#include <initializer_list>

namespace ornbrook {

namespace {

// Hides the columns that leave a name too little room, least needed first.
// It judges the view's own width with the vertical scroll bar's room always
// set aside, never the viewport's: the columns it shows decide whether a
// horizontal scroll bar appears, which would change the viewport under it
// and make it judge again, for ever.
class ColumnFitter final : public QObject {
public:
    ColumnFitter(QTreeView* files, int nameWidth)
        : QObject(files), files_(files), nameWidth_(nameWidth) {
        for (const int column : Optional)
            widths_[column] = files->header()->sectionSize(column);
        files->installEventFilter(this);
        Fit();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize &&
            static_cast<QResizeEvent*>(event)->size().width() !=
                static_cast<QResizeEvent*>(event)->oldSize().width())
            Fit();
        return QObject::eventFilter(watched, event);
    }

private:
    static constexpr int Optional[] = {FilesModel::SizeColumn, FilesModel::ModifiedColumn};

    void Fit() {
        QHeaderView* header = files_->header();
        const int scrollBar = files_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr,
                                                           files_->verticalScrollBar());
        // A hidden section's size is 0.
        int room = files_->contentsRect().width() - scrollBar - nameWidth_ -
                   header->sectionSize(FilesModel::MarkColumn) -
                   header->sectionSize(FilesModel::DownloadColumn);
        for (const int column : Optional) {
            // A hidden section's size is 0: its width is the one it was given.
            const bool fits = room >= widths_[column];
            header->setSectionHidden(column, !fits);
            room = fits ? room - widths_[column] : 0;
        }
    }

    QTreeView* files_;
    int nameWidth_;
    int widths_[FilesModel::ColumnCount] = {};
};

} // namespace

void SetUpFilesView(QTreeView* files, FilesModel* model) {
    // The name takes what the other columns leave; long names lose their middle.
    QHeaderView* header = files->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(FilesModel::NameColumn, QHeaderView::Stretch);
    // Wide enough for the widest text of each column in its widest face (bold
    // italic: changed).
    QFont widest = files->font();
    widest.setBold(true);
    widest.setItalic(true);
    const QFontMetrics metrics(widest);
    header->setMinimumSectionSize(metrics.horizontalAdvance("State") + 24);
    const auto fit = [header, metrics](int section, std::initializer_list<const char*> texts) {
        int width = 0;
        for (const char* text : texts)
            width = std::max(width, metrics.horizontalAdvance(text));
        header->resizeSection(section, width + 24);
    };
    fit(FilesModel::SizeColumn, {"1023 MiB", "folder"});
    fit(FilesModel::ModifiedColumn, {"2026-12-07 14:03"});
    fit(FilesModel::MarkColumn, {"arriving", "changed"});
    // Shown once the user downloads; long words lose their middle.
    fit(FilesModel::DownloadColumn, {"saved as photo (2).jpg"});
    header->setSectionHidden(FilesModel::DownloadColumn, true);
    files->setTextElideMode(Qt::ElideMiddle);
    new ColumnFitter(files, metrics.horizontalAdvance("photo-0412.jpg"));

    files->setSortingEnabled(true);
    files->setItemDelegate(new ListViewDelegate(files));
    model->SetFont(files->font());
}

void ApplyStoredSort(QTreeView* files, const std::shared_ptr<MainInterface>& watchList) {
    QHeaderView* header = files->header();
    const FileSort sort = ReadFileSort(watchList->Prefs());
    header->setSortIndicator(sort.Column, sort.Order);
    QObject::connect(header, &QHeaderView::sortIndicatorChanged, header,
                     [weak = std::weak_ptr(watchList)](int section, Qt::SortOrder order) {
                         if (const auto list = weak.lock())
                             StoreFileSort(list->Prefs(), {section, order});
                     });
}

} // namespace ornbrook
