#include "ui/MainCommands.h"

#include <QAction>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>
#include <string_view>

namespace ornbrook {

namespace {

// The desktop theme's icon, or the style's where the theme has none.
QIcon ThemeIcon(const QWidget* window, const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(name, window->style()->standardIcon(fallback));
}

} // namespace

MainCommands::MainCommands(QMainWindow* window, QWidget* urlList, Handlers handlers)
    : QObject(window), window_(window), handlers_(std::move(handlers)) {
    add_ = MakeAction("mnuAdd", "&Add URL...", "Ins", "Add an FTP URL to watch (Insert)",
                      handlers_.Add);
    edit_ = MakeAction("mnuEdit", "&Edit URL", "F2", "Edit the selected URL (F2)", handlers_.Edit);
    delete_ = MakeAction("mnuDelete", "&Delete URL", "Del", "Stop watching the selected URL (Del)",
                         handlers_.Delete, urlList);
    checkNow_ =
        MakeAction("mnuCheckNow", "&Check now", "Enter",
                   "Check the selected URL for new files now (Enter)", handlers_.CheckNow, urlList);
    // Ctrl+E: none of the design's keys, and the menu's letter is free.
    settings_ = MakeAction("mnuSettings", "&Settings...", "Ctrl+E",
                           "Subfolders, name filters and schedule of the selected URL (Ctrl+E)",
                           handlers_.Settings);
    undo_ = MakeAction("mnuUndoDelete", "&Undo delete", "Ctrl+Z",
                       "Bring back the URL deleted last (Ctrl+Z)", handlers_.UndoDelete, urlList);
    add_->setIcon(ThemeIcon(window, "list-add", QStyle::SP_FileDialogNewFolder));
    edit_->setIcon(ThemeIcon(window, "document-edit", QStyle::SP_FileDialogDetailedView));
    delete_->setIcon(ThemeIcon(window, "list-remove", QStyle::SP_TrashIcon));
    checkNow_->setIcon(ThemeIcon(window, "view-refresh", QStyle::SP_BrowserReload));
    undo_->setIcon(ThemeIcon(window, "edit-undo", QStyle::SP_ArrowBack));

    QMenu* urlMenu = window->menuBar()->addMenu("&URL");
    urlMenu->menuAction()->setObjectName("mnuURL");
    urlMenu->setObjectName("URLMenu");
    urlMenu->addActions({add_, edit_, delete_, checkNow_, settings_});
    urlMenu->addSeparator();
    urlMenu->addAction(undo_);
    // Ctrl+H: what happened to every URL, kept 90 days.
    urlMenu->addAction(MakeAction("mnuHistory", "&History...", "Ctrl+H",
                                  "What happened: new, changed and gone files, downloads, "
                                  "programs, failed checks (Ctrl+H)",
                                  handlers_.History));

    // The design's four commands stay on the menu bar itself.
    QAction* refresh = MakeAction("mnuRefresh", "&Refresh", nullptr,
                                  "Acknowledge all changes: new files become old, gone files go",
                                  handlers_.Refresh);
    window->menuBar()->addAction(refresh);
    window->menuBar()->addAction(MakeAction("mnuOptions", "&Options", nullptr,
                                            "Check interval and more", handlers_.Options));
    window->menuBar()->addAction(
        MakeAction("mnuHelp", "&Help", "F1", "Keys and colours", handlers_.Help));
    window->menuBar()->addAction(
        MakeAction("mnuAbout", "&About", nullptr, "Who made Ornbrook", handlers_.About));

    QToolBar* toolBar = window->addToolBar("URL commands");
    toolBar->setObjectName("ToolBar");
    toolBar->setAccessibleName("URL commands");
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolBar->addActions({add_, edit_, delete_, checkNow_});
    toolBar->addSeparator();
    // Its own action: on the menu bar an icon would take the place of the word.
    QAction* refreshButton = toolBar->addAction(
        ThemeIcon(window, "mail-mark-read", QStyle::SP_DialogApplyButton), "Refresh");
    refreshButton->setObjectName("tbRefresh");
    refreshButton->setToolTip(refresh->toolTip());
    connect(refreshButton, &QAction::triggered, refresh, &QAction::trigger);
    // The toolbar's own context menu would only offer to hide it.
    toolBar->setContextMenuPolicy(Qt::PreventContextMenu);

    contextMenu_ = new QMenu(window);
    contextMenu_->setObjectName("URLContextMenu");
    contextMenu_->addActions({add_, edit_, delete_, checkNow_, settings_});
    contextMenu_->addSeparator();
    contextMenu_->addAction(undo_);
    Update(false, false);
}

QAction* MainCommands::MakeAction(const char* name, const QString& text, const char* key,
                                  const QString& tip, std::function<void()> handler,
                                  QWidget* scope) {
    auto* action = new QAction(text, window_);
    action->setObjectName(name);
    action->setToolTip(tip);
    if (key) {
        // Enter is both the keypad's and the main one; the menus show the first.
        if (std::string_view(key) == "Enter")
            action->setShortcuts({QKeySequence(Qt::Key_Enter), QKeySequence(Qt::Key_Return)});
        else
            action->setShortcut(QKeySequence(key));
        action->setShortcutContext(scope ? Qt::WidgetShortcut : Qt::WindowShortcut);
        (scope ? scope : window_)->addAction(action);
    }
    connect(action, &QAction::triggered, this, [handler = std::move(handler)] {
        if (handler)
            handler();
    });
    return action;
}

void MainCommands::Update(bool urlSelected, bool canUndo) {
    for (QAction* action : {edit_, delete_, checkNow_, settings_})
        action->setEnabled(urlSelected);
    undo_->setEnabled(canUndo);
}

void MainCommands::ShowContextMenu(const QPoint& globalPosition) {
    contextMenu_->popup(globalPosition);
}

} // namespace ornbrook
