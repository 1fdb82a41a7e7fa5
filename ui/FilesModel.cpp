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
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
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
    if (!rows_.empty())
        Q_EMIT dataChanged(index(0, DownloadColumn), index(rowCount() - 1, DownloadColumn),
                           {Qt::DisplayRole, Qt::ToolTipRole});
}

QString FilesModel::SavedPathAt(int row) const {
    const DownloadNote* note =
        row >= 0 && row < rowCount() ? NoteOf(rows_[static_cast<std::size_t>(row)]) : nullptr;
    return note ? note->Path : QString();
}

QVariant FilesModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
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
    // Rows are not selected for anything that outlives a sort; the persistent
    // indexes of the view are simply dropped.
    const QModelIndexList before = persistentIndexList();
    SortRows();
    changePersistentIndexList(before, QModelIndexList(before.size()));
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool FilesModel::Before(const Row& a, const Row& b) const {
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
        by = a.Index - b.Index;
    const bool reversed =
        sort_.Order == Qt::DescendingOrder && !(folderA && sort_.Column != NameColumn);
    return reversed ? by > 0 : by < 0;
}

void FilesModel::SortRows() {
    // Positions are sorted, not the rows: a row is too large to move around.
    std::vector<std::uint32_t> at(rows_.size());
    for (std::size_t k = 0; k < at.size(); ++k)
        at[k] = static_cast<std::uint32_t>(k);
    std::sort(at.begin(), at.end(),
              [this](std::uint32_t a, std::uint32_t b) { return Before(rows_[a], rows_[b]); });
    std::vector<Row> sorted;
    sorted.reserve(rows_.size());
    for (const std::uint32_t k : at)
        sorted.push_back(std::move(rows_[k]));
    rows_ = std::move(sorted);
    order_.resize(rows_.size());
    for (std::size_t k = 0; k < rows_.size(); ++k)
        order_[k] = rows_[k].Index;
}

void FilesModel::Clear() {
    beginResetModel();
    rows_.clear();
    order_.clear();
    filledURL_.clear();
    endResetModel();
}

void FilesModel::Fill(const UrlFileList& list) {
    beginResetModel();
    const auto count = static_cast<std::size_t>(list.GetFilesCount());
    // The order of the last fill, when it can be the order now.
    const bool again = list.URL() == filledURL_ && order_.size() == count;
    if (!again) {
        order_.resize(count);
        for (std::size_t k = 0; k < count; ++k)
            order_[k] = static_cast<std::int32_t>(k + 1);
    }
    rows_.clear();
    rows_.reserve(count);
    for (const std::int32_t i : order_) {
        const FileEntry& entry = list.GetEntry(i);
        rows_.push_back(Row{entry.Name, MarkOf(entry), entry.Facts, i});
    }
    if (!again || !std::is_sorted(rows_.begin(), rows_.end(),
                                  [this](const Row& a, const Row& b) { return Before(a, b); }))
        SortRows();
    filledURL_ = list.URL();
    endResetModel();
}

} // namespace ornbrook
