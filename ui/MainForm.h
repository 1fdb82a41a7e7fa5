#pragma once

#include "diag/Debug_Modul.h"

#include <QMainWindow>
#include <QPersistentModelIndex>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QTimer;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace ornbrook {

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
// URL items carry the exact bytes of their URL and are matched to watch-list
// entries by those bytes, never by position or by the text shown.
class MainForm final : public QMainWindow {
public:
    // shutDown runs as the last step of unloading. With paintDuringChecks the
    // window keeps painting while a check waits for its server (the program);
    // without it a check is a plain blocking call (tests).
    explicit MainForm(std::function<void()> shutDown, bool paintDuringChecks = false);
    ~MainForm() override;
    MainForm(const MainForm&) = delete;
    MainForm& operator=(const MainForm&) = delete;

    // Placement, divider, the watch list's URLs and the first redraw.
    void Form_Load();
    // Lays the lists and the bar out around the divider; a size the platform
    // refuses is skipped while the other assignments still happen.
    void Form_Resize();
    // Puts the bar's left edge at position (twips) and lays out again.
    void MoveDividingLine(std::int32_t position);

    // Recolours the URL items and refills the file list.
    void myMainInterface_Change();
    // Refills Files from the selected URL.
    void ShowFiles();

    // Commands of the menu and the keys.
    void mnuRefresh_Click();
    void mnuOptions_Click();
    void mnuHelp_Click();
    void mnuAbout_Click();
    // Checks the selected URL now.
    void URLs_DblClick();
    // End of a label edit of item: adds the new URL, or renames the item's entry
    // and checks it.
    void URLs_AfterLabelEdit(QTreeWidgetItem* item, const std::string& newText);
    // One tick of the periodic check (every second).
    void CheckTimer_Timer();

    // The help message, lines joined by CR LF.
    static std::string HelpText();
    static std::string DividerFileName();
    // The divider file's text of a position: one leading blank unless negative.
    static std::string DividerText(std::int32_t position);

    std::shared_ptr<MainInterface> myMainInterface;

    QTreeWidget* URLs() const { return urls_; }
    QTreeView* Files() const { return files_; }
    FilesModel* FilesList() const { return filesModel_; }
    QWidget* DividingLine() const { return dividingLine_; }
    QTimer* CheckTimer() const { return checkTimer_; }
    QAction* Menu(const char* name) const;
    std::int32_t DividerLeft() const { return dividerLeft_; }
    std::int64_t CheckCounter() const { return checkCounter_; }
    // The bytes of a URL item.
    static std::string ItemURL(const QTreeWidgetItem* item);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Returns true when the key was one of the window's own.
    bool Form_KeyDown(int key);
    void Form_Unload();
    void DividingLine_MouseMove(Qt::MouseButtons buttons, double x);
    void myMainInterface_CheckBegins(const UrlFileList& list);

    bool IsEditingLabel() const;
    void InsertURL();
    void EditSelectedURL();
    void DeleteSelectedURL();
    QTreeWidgetItem* SelectedURL() const;
    std::shared_ptr<UrlFileList> EntryOf(const QTreeWidgetItem* item) const;
    void ShowURLState(QTreeWidgetItem* item, const UrlFileList& list);
    void SetItemURL(QTreeWidgetItem* item, const std::string& url);
    void URLs_EditEnded(const QPersistentModelIndex& index, const QString& text);

    // Runs a command that may check or change the watch list. While a check runs
    // the window keeps painting; a command or close request arriving then waits
    // until the check has ended and runs afterwards, never inside it.
    void RunCommand(std::function<void()> command);
    void AfterCommand();

    LiveObject live_{"MainForm"};
    std::function<void()> shutDown_;
    bool paintDuringChecks_;
    std::unique_ptr<PositionSaver> MainPositionSaver;

    QTreeWidget* urls_;
    QWidget* dividingLine_;
    QTreeView* files_;
    FilesModel* filesModel_;
    QTimer* checkTimer_;
    QAction* mnuRefresh_;
    QAction* mnuOptions_;
    QAction* mnuHelp_;
    QAction* mnuAbout_;

    // The URL whose files the list shows, if any.
    std::optional<std::string> shownFilesURL_;
    std::int32_t dividerLeft_ = 2760;
    std::int64_t checkCounter_ = 0;
    int runningCommands_ = 0;
    std::vector<std::function<void()>> waitingCommands_;
    bool closeWaiting_ = false;
    bool unloaded_ = false;
};

} // namespace ornbrook
