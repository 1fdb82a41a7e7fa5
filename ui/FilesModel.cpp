#include "ui/FilesModel.h"

#include "model/FileEntry.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"
#include "ui/MainFormColours.h"

#include <QBrush>

namespace ornbrook {

FilesModel::FilesModel(QObject* parent) : QAbstractListModel(parent) {
    SetFont(QFont());
}

void FilesModel::SetFont(const QFont& font) {
    boldFont_ = font;
    boldFont_.setBold(true);
    struckFont_ = font;
    struckFont_.setStrikeOut(true);
}

int FilesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant FilesModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return DisplayText(row.Name);
    case Qt::FontRole:
        // Not by colour alone: a gone file is also struck through.
        if (row.State == FileStateNew)
            return boldFont_;
        if (row.State == FileStateGone)
            return struckFont_;
        return {};
    case Qt::ForegroundRole:
        return QBrush(row.State == FileStateGone ? GreyText() : BlackText());
    case Qt::BackgroundRole:
        return row.State == FileStateGone ? QVariant(QBrush(StateBand())) : QVariant();
    case Qt::ToolTipRole:
        // Long names are cut in the middle; the whole name is here.
        return DisplayText(row.Name);
    case Qt::AccessibleDescriptionRole:
        return row.State == FileStateNew    ? QStringLiteral("new")
               : row.State == FileStateGone ? QStringLiteral("gone")
                                            : QStringLiteral("old");
    default:
        return {};
    }
}

QVariant FilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("Content");
    return {};
}

void FilesModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void FilesModel::Fill(const UrlFileList& list) {
    beginResetModel();
    const std::int32_t count = list.GetFilesCount();
    rows_.clear();
    rows_.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 1; i <= count; ++i)
        rows_.push_back(Row{list.GetFileName(i), list.GetFileState(i)});
    endResetModel();
}

} // namespace ornbrook
