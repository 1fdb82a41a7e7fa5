#include "ui/FilesModel.h"

#include "base/Text_Code.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"
#include "ui/MainFormColours.h"

#include <QBrush>
#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <sstream>
#include <tuple>

namespace ornbrook {

namespace {

// What comes first in the default sort: what the user has not seen yet.
int MarkRank(FileMark mark) {
    switch (mark) {
    case FileMark::New:
        return 0;
    case FileMark::Changed:
        return 1;
    case FileMark::Arriving:
        return 2;
    case FileMark::Gone:
        return 3;
    case FileMark::Old:
        break;
    }
    return 4;
}

QString MarkWord(FileMark mark) {
    switch (mark) {
    case FileMark::New:
        return QStringLiteral("new");
    case FileMark::Changed:
        return QStringLiteral("changed");
    case FileMark::Arriving:
        return QStringLiteral("arriving");
    case FileMark::Gone:
        return QStringLiteral("gone");
    case FileMark::Old:
        break;
    }
    return QStringLiteral("old");
}

// Names as people read them: letters of either case together, runs of
// digits by their value ("f2" before "f10"); the bytes decide only between
// names that are otherwise alike ("f01" and "f1", "a" and "A"). Bytes beyond
// ASCII compare as they are, which keeps UTF-8 in code point order.
int CompareNames(const std::string& a, const std::string& b) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto fold = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'A' && u <= 'Z' ? u + 32 : static_cast<int>(u);
    };
    std::size_t x = 0, y = 0;
    while (x < a.size() && y < b.size()) {
        if (digit(a[x]) && digit(b[y])) {
            // Leading zeros say nothing of the value; then the longer run is
            // the larger number, and runs of one length compare digit by digit.
            while (x + 1 < a.size() && a[x] == '0' && digit(a[x + 1]))
                ++x;
            while (y + 1 < b.size() && b[y] == '0' && digit(b[y + 1]))
                ++y;
            std::size_t ex = x, ey = y;
            while (ex < a.size() && digit(a[ex]))
                ++ex;
            while (ey < b.size() && digit(b[ey]))
                ++ey;
            if (ex - x != ey - y)
                return ex - x < ey - y ? -1 : 1;
            if (const int by = a.compare(x, ex - x, b, y, ey - y); by != 0)
                return by < 0 ? -1 : 1;
            x = ex;
            y = ey;
            continue;
        }
        if (fold(a[x]) != fold(b[y]))
            return fold(a[x]) < fold(b[y]) ? -1 : 1;
        ++x;
        ++y;
    }
    if (x < a.size() || y < b.size())
        return x < a.size() ? 1 : -1;
    const int bytes = a.compare(b);
    return bytes < 0 ? -1 : bytes > 0 ? 1 : 0;
}

// Entries without a time come first, as the oldest.
auto TimeKey(const ListedTime& t) {
    return std::make_tuple(t.Precision != ListedTime::Resolution::None, t.Year, t.Month, t.Day,
                           t.Hour, t.Minute, t.Second);
}

QString ExactSize(std::uint64_t bytes) {
    QString digits = QString::number(bytes);
    for (auto at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, ',');
    return digits + (bytes == 1 ? " byte" : " bytes");
}

QString TimeToolTip(const ListedTime& time) {
    if (time.Precision == ListedTime::Resolution::None)
        return {};
    if (time.Utc && time.Year != 0 && time.Precision != ListedTime::Resolution::Day) {
        const QDateTime utc(QDate(time.Year, time.Month, time.Day),
                            QTime(time.Hour, time.Minute, time.Second), QTimeZone::utc());
        return utc.toLocalTime().toString("yyyy-MM-dd HH:mm:ss") + " local time";
    }
    QString tip = FilesModel::ShownTime(time) + ", as the server's clock gives it";
    if (time.Year == 0)
        tip += " (it gives no year)";
    return tip;
}

} // namespace

FileSort ReadFileSort(const Preferences& preferences) {
    FileSort sort;
    std::istringstream line(preferences.Line(Preferences::Key::FileSort).value_or(""));
    int column = -1;
    int order = -1;
    if (line >> column >> order && column >= 0 && column < FilesModel::ColumnCount &&
        (order == 0 || order == 1)) {
        sort.Column = column;
        sort.Order = order == 0 ? Qt::AscendingOrder : Qt::DescendingOrder;
    }
    return sort;
}

void StoreFileSort(Preferences& preferences, FileSort sort) {
    preferences.SetLine(Preferences::Key::FileSort,
                        std::to_string(sort.Column) + " " +
                            (sort.Order == Qt::AscendingOrder ? "0" : "1"));
}

FilesModel::FilesModel(QObject* parent) : QAbstractTableModel(parent) {
    SetFont(QFont());
}

void FilesModel::SetFont(const QFont& font) {
    boldFont_ = font;
    boldFont_.setBold(true);
    boldItalicFont_ = boldFont_;
    boldItalicFont_.setItalic(true);
    italicFont_ = font;
    italicFont_.setItalic(true);
    struckFont_ = font;
    struckFont_.setStrikeOut(true);
}

QString FilesModel::ShortSize(std::uint64_t bytes) {
    if (bytes < 1024)
        return QString::number(bytes) + " B";
    // Binary maths, binary names: a KiB is 1024 bytes wherever a size is shown.
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    // One decimal while it says something, as "1.5 MB"; none from 10 on.
    if (value < 9.95)
        return QString::number(value, 'f', 1) + " " + units[unit];
    return QString::number(value, 'f', 0) + " " + units[unit];
}

QString FilesModel::ShownTime(const ListedTime& time) {
    using Resolution = ListedTime::Resolution;
    if (time.Precision == Resolution::None)
        return {};
    if (time.Precision == Resolution::Day) {
        return time.Year == 0
                   ? QString::asprintf("%02d-%02d", time.Month, time.Day)
                   : QString::asprintf("%04d-%02d-%02d", time.Year, time.Month, time.Day);
    }
    if (time.Utc && time.Year != 0) {
        const QDateTime utc(QDate(time.Year, time.Month, time.Day),
                            QTime(time.Hour, time.Minute, time.Second), QTimeZone::utc());
        if (utc.isValid())
            return utc.toLocalTime().toString("yyyy-MM-dd HH:mm");
    }
    // The server's own clock, as listed; an ls listing of the last months
    // gives no year.
    if (time.Year == 0)
        return QString::asprintf("%02d-%02d %02d:%02d", time.Month, time.Day, time.Hour,
                                 time.Minute);
    return QString::asprintf("%04d-%02d-%02d %02d:%02d", time.Year, time.Month, time.Day, time.Hour,
                             time.Minute);
}

int FilesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int FilesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const FilesModel::DownloadNote* FilesModel::NoteOf(const Row& row) const {
    if (!notes_)
        return nullptr;
    const auto url = notes_->find(filledURL_);
    if (url == notes_->end())
        return nullptr;
    const auto note = url->second.find(row.Name);
    return note == url->second.end() ? nullptr : &note->second;
}

void FilesModel::DownloadNotesChanged() {
    if (!order_.empty())
        Q_EMIT dataChanged(index(0, DownloadColumn), index(rowCount() - 1, DownloadColumn),
                           {Qt::DisplayRole, Qt::ToolTipRole});
}

QString FilesModel::SavedPathAt(int row) const {
    const DownloadNote* note = row >= 0 && row < rowCount() ? NoteOf(RowAt(row)) : nullptr;
    return note ? note->Path : QString();
}

void FilesModel::DownloadNoteChanged(const std::string& url, const std::string& name) {
    if (url != filledURL_)
        return;
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        if (entries_[i].Name == name) {
            const QModelIndex cell = index(rowOf_[i], DownloadColumn);
            Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole});
            return;
        }
    }
}

QVariant FilesModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = RowAt(index.row());
    const bool folder = row.Facts.Type == EntryType::Folder;
    const bool link = row.Facts.Type == EntryType::Link;
    const bool muted = row.Mark == FileMark::Gone || row.Mark == FileMark::Arriving;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            // A folder is told by its trailing slash, as "ls -F" does.
            return folder ? ShownText(row.Name) + '/' : ShownText(row.Name);
        case SizeColumn:
            if (folder)
                return QStringLiteral("folder");
            if (link)
                return QStringLiteral("link");
            return row.Facts.Size ? ShortSize(*row.Facts.Size) : QString();
        case ModifiedColumn:
            return ShownTime(row.Facts.Modified);
        case DownloadColumn: {
            const DownloadNote* note = NoteOf(row);
            return note ? note->Short : QString();
        }
        default:
            return MarkWord(row.Mark);
        }
    case Qt::TextAlignmentRole:
        return index.column() == SizeColumn
                   ? QVariant(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter))
                   : QVariant();
    case Qt::FontRole:
        // Not by colour alone: each mark has its own face.
        switch (row.Mark) {
        case FileMark::New:
            return boldFont_;
        case FileMark::Changed:
            return boldItalicFont_;
        case FileMark::Arriving:
            return italicFont_;
        case FileMark::Gone:
            return struckFont_;
        case FileMark::Old:
            break;
        }
        return {};
    case Qt::ForegroundRole:
        return QBrush(muted ? GreyText() : BlackText());
    case Qt::BackgroundRole:
        return muted ? QVariant(QBrush(StateBand())) : QVariant();
    case Qt::ToolTipRole:
        switch (index.column()) {
        case DownloadColumn: {
            const DownloadNote* note = NoteOf(row);
            return note ? QVariant(note->Long) : QVariant();
        }
        case SizeColumn:
            return row.Facts.Size && !folder ? ExactSize(*row.Facts.Size) : QVariant();
        case ModifiedColumn:
            return TimeToolTip(row.Facts.Modified);
        case MarkColumn:
            return row.Mark == FileMark::Arriving
                       ? QStringLiteral("still being uploaded: reported once it holds still")
                       : QVariant();
        default:
            // Long names are cut in the middle; the whole name is here.
            return ShownText(row.Name);
        }
    case Qt::AccessibleDescriptionRole:
        return folder ? "folder, " + MarkWord(row.Mark)
               : link ? "link, " + MarkWord(row.Mark)
                      : MarkWord(row.Mark);
    default:
        return {};
    }
}

QVariant FilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case SizeColumn:
        return QStringLiteral("Size");
    case ModifiedColumn:
        return QStringLiteral("Modified");
    case MarkColumn:
        return QStringLiteral("State");
    case DownloadColumn:
        return QStringLiteral("Download");
    default:
        return {};
    }
}

void FilesModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount)
        return;
    const FileSort wanted{column, order};
    if (wanted == sort_)
        return;
    sort_ = wanted;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // The selection and the current row go along with their files.
    const QModelIndexList before = persistentIndexList();
    std::vector<std::int32_t> entries;
    entries.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& at : before)
        entries.push_back(order_[static_cast<std::size_t>(at.row())]);
    SortRows();
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype k = 0; k < before.size(); ++k)
        after.push_back(
            index(rowOf_[static_cast<std::size_t>(entries[static_cast<std::size_t>(k)])],
                  before[k].column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

FilesModel::Row FilesModel::RowOf(const FileEntry& entry) {
    return Row{entry.Name, MarkOf(entry), entry.Facts};
}

bool FilesModel::Before(std::int32_t ia, std::int32_t ib) const {
    const Row& a = entries_[static_cast<std::size_t>(ia)];
    const Row& b = entries_[static_cast<std::size_t>(ib)];
    // Folders come first in every sort, among themselves by name.
    const bool folderA = a.Facts.Type == EntryType::Folder;
    const bool folderB = b.Facts.Type == EntryType::Folder;
    if (folderA != folderB)
        return folderA;
    int by = 0;
    switch (folderA ? int{NameColumn} : sort_.Column) {
    case SizeColumn: {
        const auto sa = std::make_pair(a.Facts.Size.has_value(), a.Facts.Size.value_or(0));
        const auto sb = std::make_pair(b.Facts.Size.has_value(), b.Facts.Size.value_or(0));
        by = sa < sb ? -1 : sb < sa ? 1 : 0;
        break;
    }
    case ModifiedColumn: {
        const auto ta = TimeKey(a.Facts.Modified);
        const auto tb = TimeKey(b.Facts.Modified);
        by = ta < tb ? -1 : tb < ta ? 1 : 0;
        break;
    }
    case MarkColumn:
        by = MarkRank(a.Mark) - MarkRank(b.Mark);
        break;
    default:
        break;
    }
    if (by == 0)
        by = CompareNames(a.Name, b.Name);
    if (by == 0)
        by = ia - ib;
    const bool reversed =
        sort_.Order == Qt::DescendingOrder && !(folderA && sort_.Column != NameColumn);
    return reversed ? by > 0 : by < 0;
}

void FilesModel::SortRows() {
    std::sort(order_.begin(), order_.end(),
              [this](std::int32_t a, std::int32_t b) { return Before(a, b); });
    NoteRows(0, order_.size());
}

void FilesModel::NoteRows(std::size_t from, std::size_t to) {
    rowOf_.resize(entries_.size());
    for (std::size_t row = from; row < to; ++row)
        rowOf_[static_cast<std::size_t>(order_[row])] = static_cast<std::int32_t>(row);
}

void FilesModel::Clear() {
    beginResetModel();
    entries_.assign(1, Row{});
    order_.clear();
    rowOf_.assign(1, 0);
    filledURL_.clear();
    endResetModel();
}

void FilesModel::Fill(const UrlFileList& list) {
    beginResetModel();
    const auto count = static_cast<std::size_t>(list.GetFilesCount());
    // The order of the last fill, when it can be the order now.
    const bool again = list.URL() == filledURL_ && order_.size() == count;
    entries_.resize(1);
    entries_.reserve(count + 1);
    for (std::size_t i = 1; i <= count; ++i)
        entries_.push_back(RowOf(list.GetEntry(static_cast<std::int32_t>(i))));
    if (!again) {
        order_.resize(count);
        for (std::size_t k = 0; k < count; ++k)
            order_[k] = static_cast<std::int32_t>(k + 1);
    }
    if (!again || !std::is_sorted(order_.begin(), order_.end(),
                                  [this](std::int32_t a, std::int32_t b) { return Before(a, b); }))
        SortRows();
    else
        NoteRows(0, order_.size());
    filledURL_ = list.URL();
    endResetModel();
}

void FilesModel::Update(const UrlFileList& list, const EntryChanges& changes) {
    if (list.URL() != filledURL_)
        return;
    const auto kept = static_cast<std::int64_t>(entries_.size()) - 1 -
                      static_cast<std::int64_t>(changes.Removed.size());
    // Each step below costs a pass over the rows: a change of many rows (a
    // first listing, a refresh) is cheaper to show afresh. So is one that
    // does not add up, which never should.
    const std::size_t steps = changes.Removed.size() + changes.Changed.size() +
                              static_cast<std::size_t>(std::max(changes.Added, 0));
    if (changes.All || steps > ManyChanges || kept < 0 ||
        kept + changes.Added != list.GetFilesCount()) {
        Fill(list);
        return;
    }
    RemoveEntries(changes.Removed);
    for (const std::int32_t entry : changes.Changed) {
        if (entry < 1 || entry > kept)
            continue;
        entries_[static_cast<std::size_t>(entry)] = RowOf(list.GetEntry(entry));
        MoveIntoPlace(entry);
        const int row = rowOf_[static_cast<std::size_t>(entry)];
        Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
    for (std::int32_t entry = static_cast<std::int32_t>(kept) + 1; entry <= list.GetFilesCount();
         ++entry) {
        entries_.push_back(RowOf(list.GetEntry(entry)));
        InsertEntry(entry);
    }
    NoteRows(0, order_.size());
}

void FilesModel::RemoveEntries(const std::vector<std::int32_t>& removed) {
    if (removed.empty())
        return;
    std::vector<int> rows;
    rows.reserve(removed.size());
    for (const std::int32_t entry : removed)
        rows.push_back(rowOf_.at(static_cast<std::size_t>(entry)));
    std::sort(rows.begin(), rows.end(), std::greater<>());
    // From the bottom up, a run of neighbouring rows at a time: the rows above
    // keep their numbers.
    for (std::size_t a = 0; a < rows.size();) {
        std::size_t b = a;
        while (b + 1 < rows.size() && rows[b + 1] == rows[b] - 1)
            ++b;
        beginRemoveRows({}, rows[b], rows[a]);
        order_.erase(order_.begin() + rows[b], order_.begin() + rows[a] + 1);
        endRemoveRows();
        a = b + 1;
    }
    // The entries after a removed one moved up in the list: so do they here.
    std::vector<std::int32_t> renumbered(entries_.size(), 0);
    std::size_t next = 1;
    std::size_t r = 0;
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        if (r < removed.size() && static_cast<std::size_t>(removed[r]) == i) {
            ++r;
            continue;
        }
        renumbered[i] = static_cast<std::int32_t>(next);
        if (next != i)
            entries_[next] = std::move(entries_[i]);
        ++next;
    }
    entries_.resize(next);
    for (std::int32_t& entry : order_)
        entry = renumbered[static_cast<std::size_t>(entry)];
    NoteRows(0, order_.size());
}

void FilesModel::MoveIntoPlace(std::int32_t entry) {
    const auto from = static_cast<std::size_t>(rowOf_[static_cast<std::size_t>(entry)]);
    // Where it belongs among the other rows, which are in order.
    std::size_t low = 0;
    std::size_t high = order_.size() - 1;
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (Before(order_[mid < from ? mid : mid + 1], entry))
            low = mid + 1;
        else
            high = mid;
    }
    const std::size_t to = low;
    if (to == from)
        return;
    const int source = static_cast<int>(from);
    // The row lands before the row that is now at destination.
    const int destination = static_cast<int>(to > from ? to + 1 : to);
    beginMoveRows({}, source, source, {}, destination);
    const auto at = [this](std::size_t row) {
        return order_.begin() + static_cast<std::ptrdiff_t>(row);
    };
    if (to < from)
        std::rotate(at(to), at(from), at(from + 1));
    else
        std::rotate(at(from), at(from + 1), at(to + 1));
    NoteRows(std::min(from, to), std::max(from, to) + 1);
    endMoveRows();
}

void FilesModel::InsertEntry(std::int32_t entry) {
    const auto at =
        std::lower_bound(order_.begin(), order_.end(), entry,
                         [this](std::int32_t a, std::int32_t b) { return Before(a, b); });
    const int row = static_cast<int>(at - order_.begin());
    beginInsertRows({}, row, row);
    order_.insert(at, entry);
    endInsertRows();
}

} // namespace ornbrook
