#include "ui/UrlsModel.h"

#include "base/Text_Code.h"
#include "model/FileEntry.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"
#include "ui/ListViewDelegate.h"
#include "ui/MainFormColours.h"

#include <QBrush>
#include <QDateTime>

#include <algorithm>

namespace ornbrook {

namespace {

// What the row being added shows before anything is typed.
constexpr const char* PendingText = "ftp://";

QString LocalTime(std::int64_t secondsSinceEpoch) {
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toString("yyyy-MM-dd HH:mm:ss");
}

// The tooltip of a URL row: the whole URL, how its last check went and when.
QString UrlToolTip(const UrlFileList& list, std::optional<std::int64_t> nextTry) {
    QString tip = ShownText(list.ParsedURL().Masked());
    if (list.IsChecking())
        tip += "\nbeing checked now";
    if (list.IsError())
        tip += "\n" + ShownText(list.GetErrorMsg());
    if (nextTry)
        tip += "\nnext try " + LocalTime(*nextTry);
    if (const auto when = list.LastChecked())
        tip += "\nlast checked " + LocalTime(*when);
    else
        tip += "\nnot checked since Ornbrook started";
    if (const std::string settings = DescribeSettings(list.Settings()); !settings.empty())
        tip += "\n" + ShownText(settings);
    return tip;
}

// What a screen reader says of a URL beside its text: what the colour, the
// bold face and the warning sign show.
QString UrlState(const UrlFileList& list) {
    QStringList parts;
    if (list.IsChecking())
        parts << "checking";
    else if (list.IsCheckPending())
        parts << "waiting to be checked";
    if (list.IsError())
        parts << "failed: " + ShownText(list.GetErrorMsg());
    const std::int32_t added = list.CountMark(FileMark::New);
    const std::int32_t changed = list.CountMark(FileMark::Changed);
    const std::int32_t gone = list.CountMark(FileMark::Gone);
    const std::int32_t arriving = list.CountMark(FileMark::Arriving);
    if (added > 0 || changed > 0 || gone > 0) {
        parts << (changed > 0 ? QString("%1 new, %2 changed, %3 gone").arg(added).arg(changed)
                              : QString("%1 new, %2 gone").arg(added))
                     .arg(gone);
    }
    // Not yet a change: said, but the row is not bold for it.
    if (arriving > 0)
        parts << QString("%1 arriving").arg(arriving);
    if (parts.isEmpty())
        parts << (list.LastChecked() || list.GetFilesCount() > 0 ? "no changes"
                                                                 : "not checked yet");
    if (const std::string settings = DescribeSettings(list.Settings()); !settings.empty())
        parts << ShownText(settings);
    return parts.join(", ");
}

} // namespace

UrlsModel::UrlsModel(std::shared_ptr<MainInterface> watchList, QObject* parent)
    : QAbstractListModel(parent), watchList_(std::move(watchList)) {
    SetFont(QFont());
    subscriptions_ += watchList_->ListChanged.Connect([this] { Resync(); });
    for (auto* event :
         {&watchList_->CheckBegins, &watchList_->CheckEnded, &watchList_->EntryChanged})
        subscriptions_ += event->Connect([this](const UrlFileList& list) { RowChanged(list); });
    Resync();
}

UrlsModel::~UrlsModel() = default;

void UrlsModel::SetFont(const QFont& font) {
    boldFont_ = font;
    boldFont_.setBold(true);
}

UrlsModel::Row UrlsModel::MakeRow(std::shared_ptr<UrlFileList> entry) const {
    Row row;
    const UrlFileList& list = *entry;
    row.Masked = ShownText(list.ParsedURL().Masked());
    if (list.Settings().Paused)
        row.Suffix = " (paused)";
    row.Edit = DisplayText(list.URL());
    row.ToolTip = UrlToolTip(list, watchList_->NextTry(list));
    if (const std::string problem = watchList_->ProgramProblem(list.URL()); !problem.empty())
        row.ToolTip += "\nits program could not be started: " + ShownText(problem);
    const std::vector<std::string>& refused = list.RefusedNames();
    for (std::size_t i = 0; i < refused.size() && i < 5; ++i)
        row.ToolTip += "\n" + ShownText(refused[i]);
    if (refused.size() > 5)
        row.ToolTip += "\n(" + QString::number(refused.size() - 5) + " more in the log)";
    row.Colour = list.IsChecking() ? GreyText() : list.IsError() ? RedText() : BlackText();
    row.State = UrlState(list);
    row.Bold = list.IsChanged();
    row.Failed = list.IsError();
    row.Entry = std::move(entry);
    return row;
}

int UrlsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size()) + (pending_ ? 1 : 0);
}

QVariant UrlsModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (index.row() == PendingRow())
        return role == Qt::DisplayRole || role == Qt::EditRole ? QVariant(QString(PendingText))
                                                               : QVariant();
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return row.LookAlike ? row.Masked + " #" + QString::number(index.row() + 1) + row.Suffix
                             : row.Masked + row.Suffix;
    case Qt::EditRole:
    case ListViewDelegate::EditRole:
        return row.Edit;
    case UrlRole:
        return QByteArray::fromStdString(row.Entry->URL());
    case Qt::ToolTipRole:
        return row.ToolTip;
    case Qt::ForegroundRole:
        return QBrush(row.Colour);
    case Qt::BackgroundRole:
        return row.Colour == BlackText() ? QVariant() : QVariant(QBrush(StateBand()));
    case Qt::AccessibleDescriptionRole:
        return row.State;
    case Qt::FontRole:
        return row.Bold ? QVariant(boldFont_) : QVariant();
    case Qt::DecorationRole:
        // Not by colour alone: a failed URL also carries the warning sign.
        return row.Failed ? QVariant(warningIcon_) : QVariant();
    default:
        return {};
    }
}

QVariant UrlsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("URL");
    return {};
}

Qt::ItemFlags UrlsModel::flags(const QModelIndex& index) const {
    return QAbstractListModel::flags(index) |
           (index.isValid() ? Qt::ItemIsEditable : Qt::NoItemFlags);
}

std::shared_ptr<UrlFileList> UrlsModel::EntryAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return nullptr;
    return rows_[static_cast<std::size_t>(row)].Entry;
}

int UrlsModel::RowOf(const std::string& url) const {
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        if (rows_[r].Entry->URL() == url)
            return static_cast<int>(r);
    }
    return -1;
}

int UrlsModel::PendingRow() const {
    return pending_ ? static_cast<int>(rows_.size()) : -1;
}

int UrlsModel::AddPendingRow() {
    if (!pending_) {
        const int row = static_cast<int>(rows_.size());
        beginInsertRows({}, row, row);
        pending_ = true;
        endInsertRows();
    }
    return PendingRow();
}

void UrlsModel::DropPendingRow() {
    if (!pending_)
        return;
    const int row = PendingRow();
    beginRemoveRows({}, row, row);
    pending_ = false;
    endRemoveRows();
}

void UrlsModel::Reindex() {
    rowOf_.clear();
    for (std::size_t r = 0; r < rows_.size(); ++r)
        rowOf_[rows_[r].Entry.get()] = static_cast<int>(r);
    // Rows that came or went move the positions that look-alikes show.
    const bool changed = MarkLookAlikes();
    const bool any =
        std::any_of(rows_.begin(), rows_.end(), [](const Row& r) { return r.LookAlike; });
    if ((changed || any) && !rows_.empty())
        Q_EMIT dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1));
}

bool UrlsModel::MarkLookAlikes() {
    std::unordered_map<QString, int> seen;
    for (const Row& row : rows_)
        ++seen[row.Masked];
    bool changed = false;
    for (Row& row : rows_) {
        const bool lookAlike = seen[row.Masked] > 1;
        changed = changed || lookAlike != row.LookAlike;
        row.LookAlike = lookAlike;
    }
    return changed;
}

void UrlsModel::Resync() {
    const std::int32_t count = watchList_->GetURLsCount();
    std::vector<std::shared_ptr<UrlFileList>> wanted;
    wanted.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 1; i <= count; ++i)
        wanted.push_back(watchList_->GetURL(i));
    // Rows whose URL left the list go, last first so that rows keep their numbers.
    std::unordered_map<const UrlFileList*, bool> keep;
    for (const auto& entry : wanted)
        keep[entry.get()] = true;
    for (int r = static_cast<int>(rows_.size()) - 1; r >= 0; --r) {
        if (keep.count(rows_[static_cast<std::size_t>(r)].Entry.get()) == 0) {
            beginRemoveRows({}, r, r);
            rows_.erase(rows_.begin() + r);
            endRemoveRows();
        }
    }
    // URLs new to the list get their rows where the list has them; the watch
    // list never reorders the URLs it keeps, so the rest stay in place.
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (i < rows_.size() && rows_[i].Entry == wanted[i])
            continue;
        const int row = static_cast<int>(i);
        beginInsertRows({}, row, row);
        rows_.insert(rows_.begin() + row, MakeRow(wanted[i]));
        endInsertRows();
    }
    if (rows_.size() != wanted.size()) {
        // Not a change the watch list makes; start over rather than show a lie.
        beginResetModel();
        rows_.clear();
        for (const auto& entry : wanted)
            rows_.push_back(MakeRow(entry));
        endResetModel();
    }
    Reindex();
}

void UrlsModel::RowChanged(const UrlFileList& list) {
    const auto found = rowOf_.find(&list);
    if (found == rowOf_.end())
        return;
    Row& row = rows_[static_cast<std::size_t>(found->second)];
    row = MakeRow(std::move(row.Entry));
    // An edit may make a row look like another, or no longer.
    if (MarkLookAlikes()) {
        Q_EMIT dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1));
        return;
    }
    const QModelIndex at = index(found->second);
    Q_EMIT dataChanged(at, at);
}

} // namespace ornbrook
