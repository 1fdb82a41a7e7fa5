#pragma once

#include "diag/Debug_Modul.h"
#include "model/FileEntry.h"
#include "model/ListChange.h"
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
// marks and facts, copied and sorted when another URL is shown; a change of
// the URL shown moves, inserts, removes and redraws the rows it names only,
// so that the view keeps its selection, current row and place. Texts are made
// only when a row is shown, so filling with a hundred thousand entries stays
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
    // Refills the list with every entry of the URL, in the current sort (a
    // model reset: for another URL).
    void Fill(const UrlFileList& list);
    // Applies what changed of the entries of the URL shown, in place; nothing
    // when list is another URL. A change of most rows refills.
    void Update(const UrlFileList& list, const EntryChanges& changes);

    // What downloads of the shown URL's files are doing, by URL and name (null
    // for none): a row's download column shows its short words, the tooltip the
    // whole story. The owner calls DownloadNoteChanged after a change.
    struct DownloadNote {
        QString Short;
        QString Long;
        // The saved file, once there is one.
        QString Path;
    };
    using DownloadNotes = std::map<std::string, std::map<std::string, DownloadNote>>;
    void SetDownloadNotes(const DownloadNotes* notes) { notes_ = notes; }
    // The note of one file of url changed: its one cell is redrawn.
    void DownloadNoteChanged(const std::string& url, const std::string& name);
    // The notes of many files changed.
    void DownloadNotesChanged();
    const std::string& ShownURL() const { return filledURL_; }
    // The entry of a row in its list (GetEntry's index).
    std::int32_t IndexAt(int row) const { return order_.at(static_cast<std::size_t>(row)); }

    const std::string& NameAt(int row) const { return RowAt(row).Name; }
    FileMark MarkAt(int row) const { return RowAt(row).Mark; }
    // The saved file of a row's download; empty when it has none.
    QString SavedPathAt(int row) const;
    FileSort Sort() const { return sort_; }

    // The base font of the view, of which the cues are made.
    void SetFont(const QFont& font);

    // "1.5 MB": what the size column shows.
    static QString ShortSize(std::uint64_t bytes);
    // "2026-12-07 14:03" in local time for a UTC listing time, as listed
    // otherwise; the date alone for a time known to the day. Empty for none.
    static QString ShownTime(const ListedTime& time);

private:
    // What the model keeps of an entry, as it was when last told.
    struct Row {
        std::string Name;
        FileMark Mark;
        FileFacts Facts;
    };
    // More changed rows than this are shown by a refill.
    static constexpr std::size_t ManyChanges = 2000;
    static Row RowOf(const FileEntry& entry);
    const Row& RowAt(int row) const {
        return entries_[static_cast<std::size_t>(order_.at(static_cast<std::size_t>(row)))];
    }
    // Whether entry a is shown above entry b (entry indexes); the index is
    // the last word between equal rows.
    bool Before(std::int32_t a, std::int32_t b) const;
    const DownloadNote* NoteOf(const Row& row) const;
    void SortRows();
    void NoteRows(std::size_t from, std::size_t to);
    void RemoveEntries(const std::vector<std::int32_t>& removed);
    void MoveIntoPlace(std::int32_t entry);
    void InsertEntry(std::int32_t entry);

    LiveObject live_{"FilesModel"};
    // Slot 0 unused: the entries by their index in the list.
    std::vector<Row> entries_{Row{}};
    // The entry shown in each row, and the row of each entry.
    std::vector<std::int32_t> order_;
    std::vector<std::int32_t> rowOf_{0};
    std::string filledURL_;
    FileSort sort_;
    const DownloadNotes* notes_ = nullptr;
    QFont boldFont_;
    QFont boldItalicFont_;
    QFont italicFont_;
    QFont struckFont_;
};

} // namespace ornbrook
