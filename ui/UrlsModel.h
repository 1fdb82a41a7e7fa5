#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"

#include <QAbstractListModel>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace ornbrook {

class MainInterface;
class UrlFileList;

// The rows of the main window's URL list: the watch list's URLs in its order,
// and at most one row being added (Insert) after them, which has no URL yet.
// A row shows its URL with the password masked and carries the exact bytes of
// the URL in UrlRole; the editor gets the real URL. Rows follow the watch
// list's news: a URL added, removed or put back inserts or removes its row, and
// a URL whose check begins, ends or whose entries change redraws its row alone.
// Rows whose text is grey or red stand on a white band, and each row tells its
// state in words (Qt::AccessibleDescriptionRole), as the colours tell it.
// URLs that would look alike (the same masked text: they differ only in their
// password) also show their position in the list, "#2", to the eye and to
// screen readers.
class UrlsModel final : public QAbstractListModel {
public:
    // The bytes of a row's URL (a QByteArray); none for the row being added.
    static constexpr int UrlRole = Qt::UserRole;

    UrlsModel(std::shared_ptr<MainInterface> watchList, QObject* parent = nullptr);
    ~UrlsModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The watch-list entry of a row; none for the row being added or a row
    // that does not exist.
    std::shared_ptr<UrlFileList> EntryAt(int row) const;
    // The row of a URL (exact bytes), -1 when it has none.
    int RowOf(const std::string& url) const;

    // The row being added, made when there is none; returns its row.
    int AddPendingRow();
    void DropPendingRow();
    // -1 when no row is being added.
    int PendingRow() const;

    // The base font of the view; URLs with changes are shown in its bold form.
    void SetFont(const QFont& font);
    void SetWarningIcon(const QIcon& icon) { warningIcon_ = icon; }

private:
    // Brings the rows in line with the watch list's URLs after one was added,
    // removed or put back.
    void Resync();
    void RowChanged(const UrlFileList& list);
    void Reindex();
    // Marks the rows that look alike; true when a row's mark changed.
    bool MarkLookAlikes();

    // How a row looks, worked out when its URL changes rather than at every
    // paint: a URL's state may take a walk over all its entries.
    struct Row {
        std::shared_ptr<UrlFileList> Entry;
        // The URL as shown (password masked), and what follows it.
        QString Masked;
        QString Suffix;
        QString Edit;
        QString ToolTip;
        // Said by screen readers: "checking", "failed: why", "2 new, 1 gone", ...
        QString State;
        QColor Colour;
        bool Bold = false;
        bool Failed = false;
        bool LookAlike = false;
    };
    Row MakeRow(std::shared_ptr<UrlFileList> entry) const;

    LiveObject live_{"UrlsModel"};
    std::shared_ptr<MainInterface> watchList_;
    std::vector<Row> rows_;
    std::unordered_map<const UrlFileList*, int> rowOf_;
    bool pending_ = false;
    QFont boldFont_;
    QIcon warningIcon_;
    Subscriptions subscriptions_;
};

} // namespace ornbrook
