#pragma once

#include "diag/Debug_Modul.h"

#include <QObject>
#include <functional>

class QAction;
class QMainWindow;
class QMenu;
class QPoint;
class QToolBar;

namespace ornbrook {

// The main window's commands, each reachable by mouse, keyboard and screen
// reader: a URL menu (Add, Edit, Delete, Check now, Settings, Undo delete) before the
// design's four commands on the menu bar (Refresh, Options, Help, About, with
// Alt and their letter), a toolbar with the URL commands and Refresh, and the
// URL commands again in the URL list's context menu. Every command is an action
// with its key: those that act on the selected URL (Delete, Enter, Ctrl+Z) only
// while the URL list itself has the focus, so that the file pane's keys stay its
// own and the label editor keeps what is typed into it; Insert, F2, Ctrl+E and
// F1 wherever the window has the focus.
//
// Actions carry object names by which tests find them: "mnuAdd", "mnuEdit",
// "mnuDelete", "mnuCheckNow", "mnuSettings", "mnuUndoDelete", "mnuRefresh", "mnuOptions",
// "mnuHelp", "mnuAbout", "mnuHistory"; the menu is "mnuURL", the toolbar "ToolBar", the
// context menu "URLContextMenu".
class MainCommands final : public QObject {
public:
    struct Handlers {
        std::function<void()> Add, Edit, Delete, CheckNow, Settings, UndoDelete, History;
        std::function<void()> Refresh, Options, Help, About;
    };

    // urlList: the widget whose focus makes the URL list's keys live.
    MainCommands(QMainWindow* window, QWidget* urlList, Handlers handlers);

    // Commands that need a selected URL, or a deleted one, are offered only then.
    void Update(bool urlSelected, bool canUndo);
    // The URL commands at a point of the screen (a right click, the menu key).
    void ShowContextMenu(const QPoint& globalPosition);
    QAction* Add() const { return add_; }

private:
    // A key with scope is live while scope has the focus, else in the whole window.
    QAction* MakeAction(const char* name, const QString& text, const char* key, const QString& tip,
                        std::function<void()> handler, QWidget* scope = nullptr);

    LiveObject live_{"MainCommands"};
    QMainWindow* window_;
    Handlers handlers_;
    QAction* add_;
    QAction* edit_;
    QAction* delete_;
    QAction* checkNow_;
    QAction* settings_;
    QAction* undo_;
    QMenu* contextMenu_;
};

} // namespace ornbrook
