#pragma once

#include "diag/Debug_Modul.h"
#include "model/FileEntry.h"
#include "model/Preferences.h"

#include <QAbstractTableModel>
#include <QFont>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ornbrook {

class UrlFileList;

// How the Files list is sorted: kept in filesort.dat ("column order", one
// line) so that it outlives the URL shown and the program.
struct FileSort {
    int Column = 3;
    Qt::SortOrder Order = Qt::AscendingOrder;
    bool operator==(const FileSort&) const = default;
};
// Missing or unreadable: by mark, then name.
FileSort ReadFileSort(const Preferences& preferences);
void StoreFileSort(Preferences& preferences, FileSort sort);

// The rows of the main window's Files list: the entries of one URL with their
// marks and facts, copied and sorted when the list is refilled. Texts are made
// only when a row is shown, so refilling with a hundred thousand entries stays
// cheap. Columns: name, size (exact in the tooltip), modified, mark, download
// (what a download of the file did, its story in the tooltip). Each row
// says its mark in words (Qt::AccessibleDescriptionRole) and has its whole name
// in its tooltip. Cues that do not rest on colour alone: new is bold, changed
// bold italic, arriving italic and grey, gone struck through and grey; grey
// rows stand on a white band.
class FilesModel final : public QAbstractTableModel {
public:
    enum Column { NameColumn, SizeColumn, ModifiedColumn, MarkColumn, DownloadColumn, ColumnCount };

    explicit FilesModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Sorts the rows, and every later fill, by column; ties go by name.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Empties the list.
    void Clear();
    // Refills the list with every entry of the URL, in the current sort.
    void Fill(const UrlFileList& list);

    // What downloads of the shown URL's files are doing, by URL and name (null
    // for none): a row's download column shows its short words, the tooltip the
    // whole story. The owner calls DownloadNotesChanged after a change.
    struct DownloadNote {
        QString Short;
        QString Long;
        // The saved file, once there is one.
        QString Path;
    };
    using DownloadNotes = std::map<std::string, std::map<std::string, DownloadNote>>;
    void SetDownloadNotes(const DownloadNotes* notes) { notes_ = notes; }
    void DownloadNotesChanged();
    const std::string& ShownURL() const { return filledURL_; }
    // The entry of a row in its list (GetEntry's index).
    std::int32_t IndexAt(int row) const { return rows_.at(static_cast<std::size_t>(row)).Index; }

    const std::string& NameAt(int row) const {
        return rows_.at(static_cast<std::size_t>(row)).Name;
    }
    FileMark MarkAt(int row) const { return rows_.at(static_cast<std::size_t>(row)).Mark; }
    FileSort Sort() const { return sort_; }
    // The saved file of a row's download; empty when it has none.
    QString SavedPathAt(int row) const;

    // The base font of the view, of which the cues are made.
    void SetFont(const QFont& font);

    // "1.5 MB": what the size column shows.
    static QString ShortSize(std::uint64_t bytes);
    // "2026-12-07 14:03" in local time for a UTC listing time, as listed
    // otherwise; the date alone for a time known to the day. Empty for none.
    static QString ShownTime(const ListedTime& time);

private:
    struct Row {
        std::string Name;
        FileMark Mark;
        FileFacts Facts;
        // The entry's index in its list: the last word between equal rows.
        std::int32_t Index;
    };
    bool Before(const Row& a, const Row& b) const;
    const DownloadNote* NoteOf(const Row& row) const;
    void SortRows();

    LiveObject live_{"FilesModel"};
    std::vector<Row> rows_;
    // The URL filled last and the entries' order then: a refill that finds
    // them in order still (the same listing, or marks that moved nothing)
    // needs no sort.
    std::string filledURL_;
    std::vector<std::int32_t> order_;
    FileSort sort_;
    const DownloadNotes* notes_ = nullptr;
    QFont boldFont_;
    QFont boldItalicFont_;
    QFont italicFont_;
    QFont struckFont_;
};

} // namespace ornbrook
