#pragma once

#include "diag/Debug_Modul.h"

#include <QMainWindow>
#include <QPersistentModelIndex>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QTimer;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace ornbrook {

class DesktopPresence;
class FilesModel;
class MainInterface;
class PositionSaver;
class UrlFileList;

// The program's main window: the watched URLs on the left, the files of the
// selected URL on the right, a draggable bar between them. It redraws both lists
// whenever the watch list changes, runs the commands of its menu and keys, checks
// the whole list periodically, and hands over to the program's shutdown when it
// is closed. Closing it is the only way out of the program.
//
// Checks run in the background: the window takes every input while they run,
// and merges each result as it arrives. The URL rows always mirror the watch
// list, in its order (plus a row being inserted); a row carries the exact bytes
// of its URL and is matched to its entry by them, never by position or by the
// text shown, which hides passwords.
class MainForm final : public QMainWindow {
public:
    // shutDown runs as the last step of unloading.
    explicit MainForm(std::function<void()> shutDown);
    ~MainForm() override;
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // Placement, divider, the watch list's URLs and the first redraw.
    void Form_Load();
    // Lays the lists and the bar out around the divider, which stays where
    // both lists keep a usable width.
    void Form_Resize();
    // Puts the bar's left edge at position (twips, brought inside the window)
    // and lays out again.
    void MoveDividingLine(std::int32_t position);

    // Brings the rows in line with the watch list, recolours them and refills
    // the file list.
    void myMainInterface_Change();
    // Refills Files from the selected URL; empty when none is selected.
    void ShowFiles();

    // Commands of the menu and the keys.
    void mnuRefresh_Click();
    void mnuOptions_Click();
    void mnuHelp_Click();
    void mnuAbout_Click();
    // Checks the selected URL now, unless its check is pending already.
    void URLs_DblClick();
    // End of a label edit of item: adds the new URL, or renames the item's entry
    // and checks it; a text that is only "ftp://" or blanks abandons the edit.
    void URLs_AfterLabelEdit(QTreeWidgetItem* item, const std::string& newText);
    // One tick of the periodic check (every second).
    void CheckTimer_Timer();
    // Puts the last deleted URL back, as it was.
    void UndoDelete();
    // Shows the window in front of the others (a second start asks for it).
    void BringToFront();
    // Selects the row of url, if it has one, and scrolls to it.
    void SelectURL(const std::string& url);

    // The help message, lines joined by CR LF.
    static std::string HelpText();
    static std::string DividerFileName();
    // The divider file's text of a position: one leading blank unless negative.
    static std::string DividerText(std::int32_t position);
    // The narrowest a list may become, in twips.
    static constexpr std::int32_t MinListWidth = 1200;

    std::shared_ptr<MainInterface> myMainInterface;

    QTreeWidget* URLs() const { return urls_; }
    QTreeView* Files() const { return files_; }
    FilesModel* FilesList() const { return filesModel_; }
    QWidget* DividingLine() const { return dividingLine_; }
    QTimer* CheckTimer() const { return checkTimer_; }
    // Single-shot: saves merged results that a long check run holds back.
    QTimer* SaveTimer() const { return saveTimer_; }
    QLabel* StatusLine() const { return progress_; }
    QAction* Menu(const char* name) const;
    // Title, tray and notifications; made by Form_Load.
    DesktopPresence* Desktop() const { return desktop_.get(); }
    std::int32_t DividerLeft() const { return dividerLeft_; }
    std::int64_t CheckCounter() const { return checkCounter_; }
    // The bytes of a URL item.
    static std::string ItemURL(const QTreeWidgetItem* item);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Returns true when the key was one of the window's own.
    bool Form_KeyDown(int key, Qt::KeyboardModifiers modifiers);
    void Form_Unload();
    void DividingLine_MouseMove(Qt::MouseButtons buttons, double x);
    void myMainInterface_CheckBegins(const UrlFileList& list);
    void myMainInterface_CheckEnded(const UrlFileList& list);

    bool IsEditingLabel() const;
    void InsertURL();
    void EditSelectedURL();
    void DeleteSelectedURL();
    QTreeWidgetItem* SelectedURL() const;
    QTreeWidgetItem* ItemOf(const std::string& url) const;
    std::shared_ptr<UrlFileList> EntryOf(const QTreeWidgetItem* item) const;
    void SyncURLItems();
    void ShowURLState(QTreeWidgetItem* item, const UrlFileList& list);
    void SetItemURL(QTreeWidgetItem* item, const std::string& url);
    void FitURLColumn();
    void ShowProgress();
    void ShowMessage(const QString& text);
    std::int32_t InsideDivider(std::int32_t position) const;
    void DeliverCheckResults();
    void ShowDamageNotice();

    // Label editing of URLs: why a text cannot end an edit (empty when it can).
    QString RefusalOf(const QPersistentModelIndex& index, const QString& text) const;
    void URLs_EditRefused(const QPersistentModelIndex& index, const QString& text,
                          const QString& why);
    void URLs_EditEnded(const QPersistentModelIndex& index, const QString& text);
    void URLs_EditAbandoned(const QPersistentModelIndex& index);
    void DropInsertedItem();

    LiveObject live_{"MainForm"};
    std::function<void()> shutDown_;
    std::unique_ptr<PositionSaver> MainPositionSaver;

    QTreeWidget* urls_;
    QWidget* dividingLine_;
    QTreeView* files_;
    FilesModel* filesModel_;
    QTimer* checkTimer_;
    QTimer* saveTimer_;
    QLabel* progress_;
    QAction* mnuRefresh_;
    QAction* mnuOptions_;
    QAction* mnuHelp_;
    QAction* mnuAbout_;

    // The row made by Insert that has no URL yet, if any.
    QTreeWidgetItem* insertedItem_ = nullptr;
    // The URL whose files the list shows, if any.
    std::optional<std::string> shownFilesURL_;
    // The last deleted URL, for one undo: where it stood and its data-file record.
    struct Deleted {
        std::int32_t Index = 0;
        std::string Record;
    };
    std::optional<Deleted> lastDeleted_;
    std::int32_t dividerLeft_ = 2760;
    std::int64_t checkCounter_ = 0;
    std::string lastCheckedAt_;
    // Set from a worker thread: a delivery is already posted.
    std::atomic<bool> deliveryPosted_{false};
    // The window's handlers on the watch list, dropped when it goes.
    std::vector<std::function<void()>> disconnects_;
    bool unloaded_ = false;
    std::unique_ptr<DesktopPresence> desktop_;
};

} // namespace ornbrook
