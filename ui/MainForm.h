#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "model/ListChange.h"

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QTimer;
class QTreeView;

namespace ornbrook {

class CertificateQuestion;
class DesktopPresence;
class DividingLine;
class FilesModel;
class MainCommands;
class MainInterface;
class PositionSaver;
class StatusMessage;
class UrlBanner;
class UrlFileList;
class UrlEditor;
class UrlsModel;

// The program's main window: the watched URLs on the left, the files of the
// selected URL on the right, a draggable bar between them. It shows the watch
// list through two models, runs the commands of its menu and keys, checks the
// whole list periodically, and hands over to the program's shutdown when it is
// closed. Closing it is the only way out of the program.
//
// Checks run in the background: the window takes every input while they run.
// The URL rows mirror the watch list, in its order (plus a row being added); a
// row is matched to its entry by the entry itself, never by the text shown,
// which hides passwords.
//
// Its widgets carry the design's names as object names ("URLs", "Files",
// "DividingLine", "CheckTimer", "mnuRefresh", ...), by which tests find them;
// its commands are in MainCommands, the banner above the files in UrlBanner.
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

    // Brings the file list and the status line up to date after the watch list
    // changed: the rows that changed when the change names the URL shown,
    // nothing of the files for another URL, a refill for a change that names
    // none. The URL rows follow the watch list by themselves.
    void myMainInterface_Change(const ListChange& change = {});
    // Shows the files of the selected URL (empty when none is selected): a
    // fill when it is not the URL shown, or when asked to refill.
    void ShowFiles(bool refill = false);

    // Commands of the menu and the keys.
    void mnuRefresh_Click();
    void mnuOptions_Click();
    void mnuHelp_Click();
    void mnuAbout_Click();
    // Checks the selected URL now, unless its check is pending already; a
    // certificate its server's checks were refused with is asked about again.
    void URLs_DblClick();
    // End of a label edit of a row: adds the new URL, or gives the row's entry
    // the new URL and checks it; a text that is only "ftp://" or blanks
    // abandons the edit.
    void URLs_AfterLabelEdit(const QModelIndex& row, const std::string& newText);
    // One tick of the periodic check (every second). The tick counter is the
    // timer's "Tag" property.
    void CheckTimer_Timer();
    // The selected URL's own settings, in their dialog.
    void mnuSettings_Click();
    void mnuHistory_Click();
    // Puts the last deleted URL back, as it was.
    void UndoDelete();
    // Shows the window in front of the others (a second start asks for it).
    void BringToFront();
    // Selects the row of url, if it has one, and scrolls to it.
    void SelectURL(const std::string& url);

    std::shared_ptr<MainInterface> myMainInterface;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Unload();
    void myMainInterface_CheckBegins(const UrlFileList& list);
    void myMainInterface_CheckEnded(const UrlFileList& list);

    void DeleteSelectedURL();
    // The banner and the commands follow the selected URL's state.
    void ShowState();
    int SelectedRow() const;
    std::shared_ptr<UrlFileList> SelectedEntry() const;
    void ClearSelection();
    void FitURLColumnSoon();
    void FitURLColumn();
    void ShowProgress();
    void ShowMessage(const QString& text);
    void ShowDamageNotice();

    LiveObject live_{"MainForm"};
    std::function<void()> shutDown_;
    std::unique_ptr<PositionSaver> MainPositionSaver;

    QTreeView* urls_;
    UrlsModel* urlsModel_ = nullptr;
    UrlEditor* urlEditor_ = nullptr;
    DividingLine* dividingLine_;
    QWidget* filesPane_;
    UrlBanner* banner_;
    QTreeView* files_;
    FilesModel* filesModel_;
    QTimer* checkTimer_;
    QTimer* saveTimer_;
    StatusMessage* statusMessage_;
    QLabel* progress_;
    QLabel* fileCount_;
    MainCommands* commands_;
    CertificateQuestion* certificates_ = nullptr;

    // The URL whose files the list shows, if any.
    std::optional<std::string> shownFilesURL_;
    // The last deleted URL, for one undo: where it stood and its data-file record.
    struct Deleted {
        std::int32_t Index = 0;
        std::string Record;
    };
    std::optional<Deleted> lastDeleted_;
    std::int64_t checkCounter_ = 0;
    std::string lastCheckedAt_;
    bool fitPosted_ = false;
    bool selectionRemoved_ = false;
    Subscriptions subscriptions_;
    bool unloaded_ = false;
    DesktopPresence* desktop_ = nullptr;
};

} // namespace ornbrook
