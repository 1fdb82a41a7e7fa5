#pragma once

#include "diag/Debug_Modul.h"

#include <QAbstractListModel>
#include <QFont>
#include <cstdint>
#include <string>
#include <vector>

namespace ornbrook {

class UrlFileList;

// The rows of the main window's Files list: the names of one URL with their
// states, copied when the list is refilled. Names are converted for display only
// when a row is shown, so refilling with a hundred thousand names stays cheap.
// Each row says its mark in words (Qt::AccessibleDescriptionRole) and has its
// whole name in its tooltip; gone files stand on a white band.
class FilesModel final : public QAbstractListModel {
public:
    explicit FilesModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Empties the list.
    void Clear();
    // Refills the list with every entry of the URL, in index order.
    void Fill(const UrlFileList& list);

    // The name and state of a row, as the file list gave them.
    const std::string& NameAt(int row) const {
        return rows_.at(static_cast<std::size_t>(row)).Name;
    }
    std::int32_t StateAt(int row) const { return rows_.at(static_cast<std::size_t>(row)).State; }

    // The base font of the view; new files are shown in its bold form, gone
    // files struck through.
    void SetFont(const QFont& font);

private:
    struct Row {
        std::string Name;
        std::int32_t State;
    };

    LiveObject live_{"FilesModel"};
    std::vector<Row> rows_;
    QFont boldFont_;
    QFont struckFont_;
};

} // namespace ornbrook
