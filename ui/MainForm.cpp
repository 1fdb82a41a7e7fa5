#include "ui/MainForm.h"

#include "app/FileIO_Code.h"
#include "app/ProgramGlobals.h"
#include "diag/DisplayText.h"
#include "diag/NumberText.h"
#include "ftp/CheckRunner.h"
#include "model/MainInterface.h"
#include "model/MainInterface_Modul.h"
#include "model/UrlFileList.h"
#include "ui/AboutForm.h"
#include "ui/FilesModel.h"
#include "ui/ListViewDelegate.h"
#include "ui/MainFormColours.h"
#include "ui/OptionsForm.h"
#include "ui/PaintingCheckRunner.h"
#include "ui/PositionSaver.h"
#include "ui/Twips.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

namespace ornbrook {

namespace {

// Design sizes, in twips.
constexpr double ClientWidth = 6765;
constexpr double ClientHeight = 4710;
constexpr double ListHeight = 3375;
constexpr double DividerWidth = 75;
constexpr std::int32_t DesignDividerLeft = 2760;
constexpr int CheckTimerInterval = 1000;

// The check interval's default: five minutes, written with a leading blank.
constexpr const char* DefaultInterval = " 300";

constexpr int UrlRole = Qt::UserRole;

void SetUpListView(QTreeView* view) {
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAllColumnsShowFocus(true);
    // The one column always spans the whole list.
    view->header()->setStretchLastSection(true);
    view->header()->setSectionsMovable(false);
    QPalette palette = view->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, ListBackground());
        palette.setColor(group, QPalette::Text, BlackText());
    }
    view->setPalette(palette);
}

} // namespace

MainForm::MainForm(std::function<void()> shutDown, bool paintDuringChecks)
    : shutDown_(std::move(shutDown)), paintDuringChecks_(paintDuringChecks) {
    setObjectName("MainForm");
    setWindowTitle("Ornbrook");

    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    setCentralWidget(client);

    urls_ = new QTreeWidget(client);
    urls_->setObjectName("URLs");
    urls_->setColumnCount(1);
    urls_->setHeaderLabels({"URL"});
    SetUpListView(urls_);
    urls_->setItemDelegate(
        new ListViewDelegate(urls_, [this](const QPersistentModelIndex& index,
                                           const QString& text) { URLs_EditEnded(index, text); }));
    urls_->setGeometry(TwipsRect(0, 0, 2775, ListHeight));

    dividingLine_ = new QWidget(client);
    dividingLine_->setObjectName("DividingLine");
    dividingLine_->setCursor(Qt::SizeHorCursor);
    dividingLine_->setAutoFillBackground(true);
    dividingLine_->setGeometry(TwipsRect(DesignDividerLeft, 0, DividerWidth, ListHeight));

    files_ = new QTreeView(client);
    files_->setObjectName("Files");
    filesModel_ = new FilesModel(files_);
    files_->setModel(filesModel_);
    SetUpListView(files_);
    files_->setItemDelegate(new ListViewDelegate(files_));
    filesModel_->SetFont(files_->font());
    files_->setGeometry(TwipsRect(2880, 0, 3015, ListHeight));

    checkTimer_ = new QTimer(this);
    checkTimer_->setObjectName("CheckTimer");
    checkTimer_->setInterval(CheckTimerInterval);
    connect(checkTimer_, &QTimer::timeout, this, [this] { CheckTimer_Timer(); });

    // Four commands on the menu bar itself, reached with Alt and their letter.
    const auto addCommand = [this](const char* name, const char* caption,
                                   void (MainForm::*slot)()) {
        QAction* action = menuBar()->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
        return action;
    };
    mnuRefresh_ = addCommand("mnuRefresh", "&Refresh", &MainForm::mnuRefresh_Click);
    mnuOptions_ = addCommand("mnuOptions", "&Options", &MainForm::mnuOptions_Click);
    mnuHelp_ = addCommand("mnuHelp", "&Help", &MainForm::mnuHelp_Click);
    mnuAbout_ = addCommand("mnuAbout", "&About", &MainForm::mnuAbout_Click);

    // Key preview: the window sees the keys of both lists before they do.
    urls_->installEventFilter(this);
    files_->installEventFilter(this);
    dividingLine_->installEventFilter(this);
    client->installEventFilter(this);

    connect(urls_, &QTreeWidget::itemSelectionChanged, this, [this] { ShowFiles(); });
    connect(urls_, &QTreeWidget::itemDoubleClicked, this,
            [this] { RunCommand([this] { URLs_DblClick(); }); });

    resize(WidgetSize(TwipsToPixelsX(ClientWidth)).value_or(0),
           WidgetSize(TwipsToPixelsY(ClientHeight)).value_or(0) + menuBar()->sizeHint().height());
}

MainForm::~MainForm() {
    if (myMainInterface) {
        myMainInterface->Change.DisconnectAll();
        myMainInterface->CheckBegins.DisconnectAll();
    }
}

QAction* MainForm::Menu(const char* name) const {
    for (QAction* action : {mnuRefresh_, mnuOptions_, mnuHelp_, mnuAbout_}) {
        if (action->objectName() == QLatin1String(name))
            return action;
    }
    return nullptr;
}

std::string MainForm::DividerFileName() {
    return ProgramDir + "MainForm_DividingLine.pos";
}

std::string MainForm::DividerText(std::int32_t position) {
    return (position >= 0 ? " " : "") + IntToText(position);
}

void MainForm::Form_Load() {
    MainPositionSaver = std::make_unique<PositionSaver>();
    MainPositionSaver->SetFormName("MainForm");
    MainPositionSaver->SetForm(this);
    MainPositionSaver->LoadPosition();

    MoveDividingLine(TextToInt32(ReadFirstLine(DividerFileName(), DividerText(dividerLeft_))));

    myMainInterface = TheMainInterface;
    myMainInterface->Change.Connect([this] { myMainInterface_Change(); });
    myMainInterface->CheckBegins.Connect(
        [this](const UrlFileList& list) { myMainInterface_CheckBegins(list); });
    if (paintDuringChecks_)
        SetCheckRunner(&RunKeepingWindowPainted);

    for (std::int32_t index = 1; index <= myMainInterface->GetURLsCount(); ++index)
        SetItemURL(new QTreeWidgetItem(urls_), myMainInterface->GetURL(index)->URL());

    myMainInterface_Change();
    ShowFiles();
    checkTimer_->start();
}

void MainForm::Form_Resize() {
    const double clientWidth = PixelsToTwipsX(centralWidget()->width());
    const double clientHeight = PixelsToTwipsY(centralWidget()->height());
    const auto height = WidgetSize(TwipsToPixelsY(clientHeight));
    if (const auto width = WidgetSize(TwipsToPixelsX(dividerLeft_)))
        urls_->resize(*width, urls_->height());
    if (height)
        urls_->resize(urls_->width(), *height);
    if (height)
        dividingLine_->resize(dividingLine_->width(), *height);
    const double filesLeft = double(dividerLeft_) + DividerWidth;
    files_->move(WidgetCoordinate(TwipsToPixelsX(filesLeft)), 0);
    if (const auto width = WidgetSize(TwipsToPixelsX(clientWidth - filesLeft)))
        files_->resize(*width, files_->height());
    if (height)
        files_->resize(files_->width(), *height);
}

void MainForm::MoveDividingLine(std::int32_t position) {
    dividerLeft_ = position;
    dividingLine_->move(WidgetCoordinate(TwipsToPixelsX(position)), 0);
    Form_Resize();
}

void MainForm::DividingLine_MouseMove(Qt::MouseButtons buttons, double x) {
    if (buttons != Qt::LeftButton)
        return;
    // The bar's centre follows the mouse; x is relative to the bar's left edge.
    const double position = PixelsToTwipsX(x) - DividerWidth / 2 + dividerLeft_;
    if (const auto rounded = ToInt32(position))
        MoveDividingLine(*rounded);
}

std::string MainForm::ItemURL(const QTreeWidgetItem* item) {
    return item->data(0, UrlRole).toByteArray().toStdString();
}

void MainForm::SetItemURL(QTreeWidgetItem* item, const std::string& url) {
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    item->setData(0, UrlRole, QByteArray::fromStdString(url));
    item->setText(0, DisplayText(url));
}

std::shared_ptr<UrlFileList> MainForm::EntryOf(const QTreeWidgetItem* item) const {
    if (!item || !myMainInterface)
        return nullptr;
    return myMainInterface->GetURL(myMainInterface->GetURLIndex(ItemURL(item)));
}

QTreeWidgetItem* MainForm::SelectedURL() const {
    const QList<QTreeWidgetItem*> selected = urls_->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void MainForm::ShowURLState(QTreeWidgetItem* item, const UrlFileList& list) {
    const QColor colour = list.IsChecking() ? GreyText() : list.IsError() ? RedText() : BlackText();
    if (item->foreground(0).color() != colour || item->foreground(0).style() == Qt::NoBrush)
        item->setForeground(0, colour);
    const bool bold = list.IsChanged();
    if (item->font(0).bold() != bold) {
        QFont font = urls_->font();
        font.setBold(bold);
        item->setFont(0, font);
    }
}

void MainForm::myMainInterface_Change() {
    for (int i = 0; i < urls_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = urls_->topLevelItem(i);
        if (const auto list = EntryOf(item))
            ShowURLState(item, *list);
    }
    ShowFiles();
}

void MainForm::myMainInterface_CheckBegins(const UrlFileList& list) {
    // Grey while the check runs; the window paints it during the wait.
    for (int i = 0; i < urls_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = urls_->topLevelItem(i);
        if (ItemURL(item) == list.URL())
            ShowURLState(item, list);
    }
}

void MainForm::ShowFiles() {
    const std::shared_ptr<UrlFileList> list = EntryOf(SelectedURL());
    // A redraw of the URL already shown keeps the reader's place in a long list;
    // another URL starts at the top.
    const bool sameURL = list && shownFilesURL_ && *shownFilesURL_ == list->URL();
    if (list) {
        filesModel_->Fill(*list);
        shownFilesURL_ = list->URL();
    } else {
        filesModel_->Clear();
        shownFilesURL_.reset();
    }
    if (!sameURL)
        files_->scrollToTop();
}

void MainForm::RunCommand(std::function<void()> command) {
    if (runningCommands_ > 0) {
        waitingCommands_.push_back(std::move(command));
        return;
    }
    ++runningCommands_;
    try {
        command();
    } catch (...) {
        --runningCommands_;
        throw;
    }
    --runningCommands_;
    AfterCommand();
}

void MainForm::AfterCommand() {
    // What waited for the check runs from the event loop, in the order it came.
    std::vector<std::function<void()>> waiting;
    waiting.swap(waitingCommands_);
    for (auto& command : waiting)
        QMetaObject::invokeMethod(
            this, [this, command = std::move(command)] { RunCommand(command); },
            Qt::QueuedConnection);
    if (closeWaiting_) {
        closeWaiting_ = false;
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
}

void MainForm::mnuRefresh_Click() {
    RunCommand([this] { myMainInterface->Refresh(); });
}

void MainForm::mnuOptions_Click() {
    OptionsForm options(this);
    options.exec();
}

void MainForm::mnuHelp_Click() {
    QMessageBox box(this);
    box.setObjectName("HelpMessage");
    box.setWindowTitle("Help");
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayText(HelpText()));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void MainForm::mnuAbout_Click() {
    AboutForm about(this);
    about.exec();
}

std::string MainForm::HelpText() {
    static const char* const lines[] = {
        "menue:",
        "\tRefresh (Alt + r): refreshs state of old and new files",
        "\tOptions (Alt + o): opens a dialog with changeable options",
        "\tHelp (Alt + h): opens this dialog",
        "\tAbout (Alt + a): opens a dialog with informations about the coder",
        "",
        "keys:",
        "\tF1: opens this dialog",
        "\tIns: inserts a new URL",
        "\tF2: edits selected URL",
        "\tDel: deletes selected URL",
        "\tEnter: checks selected URL for new files",
        "\tAlt + F4: exits this tool",
        "",
        "URLs-properties:",
        "\tbold: new or old files",
        "\tgrey: checking",
        "\tred: error",
        "",
        "Content-properties:",
        "\tbold: new file",
        "\tgrey: old file",
        "",
        "Send me a mail for more questions.",
    };
    std::string text = lines[0];
    for (std::size_t i = 1; i < std::size(lines); ++i)
        text += std::string("\r\n") + lines[i];
    return text;
}

bool MainForm::Form_KeyDown(int key) {
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        RunCommand([this] { URLs_DblClick(); });
        return true;
    case Qt::Key_Insert:
        InsertURL();
        return true;
    case Qt::Key_Delete:
        RunCommand([this] { DeleteSelectedURL(); });
        return true;
    case Qt::Key_F1:
        mnuHelp_Click();
        return true;
    case Qt::Key_F2:
        EditSelectedURL();
        return true;
    default:
        return false;
    }
}

bool MainForm::IsEditingLabel() const {
    for (const QLineEdit* editor : urls_->viewport()->findChildren<QLineEdit*>()) {
        if (editor->isVisible())
            return true;
    }
    return false;
}

void MainForm::InsertURL() {
    auto* item = new QTreeWidgetItem(urls_);
    SetItemURL(item, "ftp://");
    urls_->setCurrentItem(item);
    urls_->scrollToItem(item);
    urls_->setFocus();
    urls_->editItem(item, 0);
}

void MainForm::EditSelectedURL() {
    if (QTreeWidgetItem* item = SelectedURL()) {
        urls_->setFocus();
        urls_->editItem(item, 0);
    }
}

void MainForm::DeleteSelectedURL() {
    QTreeWidgetItem* item = SelectedURL();
    if (!item)
        return;
    myMainInterface->RemoveURL(ItemURL(item));
    // The file list keeps what it shows until the next redraw.
    const QSignalBlocker quiet(urls_);
    delete item;
}

void MainForm::URLs_DblClick() {
    if (const auto list = EntryOf(SelectedURL()))
        list->CheckFiles();
}

void MainForm::URLs_EditEnded(const QPersistentModelIndex& index, const QString& text) {
    // The editor closes first; the check then runs from the event loop.
    const std::string newText = ToBytes(text);
    QMetaObject::invokeMethod(
        this,
        [this, index, newText] {
            RunCommand([this, index, newText] {
                if (QTreeWidgetItem* item = index.isValid() ? urls_->itemFromIndex(index) : nullptr)
                    URLs_AfterLabelEdit(item, newText);
            });
        },
        Qt::QueuedConnection);
}

void MainForm::URLs_AfterLabelEdit(QTreeWidgetItem* item, const std::string& newText) {
    const std::int32_t index = myMainInterface->GetURLIndex(ItemURL(item));
    // The item shows its new URL before the check, so that it is painted grey
    // while the check runs and recoloured by the check's redraws.
    SetItemURL(item, newText);
    if (index == 0) {
        myMainInterface->AddURL(newText);
    } else {
        const std::shared_ptr<UrlFileList> list = myMainInterface->GetURL(index);
        list->SetURL(newText);
        list->CheckFiles();
    }
    // A URL already watched is added by no check, so nothing else colours it.
    if (const auto list = EntryOf(item))
        ShowURLState(item, *list);
}

void MainForm::CheckTimer_Timer() {
    // A tick during a check is dropped, as missed ticks are.
    if (runningCommands_ > 0)
        return;
    const std::int32_t interval =
        TextToInt32(ReadFirstLine(OptionsForm::IntervalFileName(), DefaultInterval));
    if (interval == 0)
        return;
    ++checkCounter_;
    if (checkCounter_ > interval) {
        RunCommand([this] { myMainInterface->CheckFiles(); });
        checkCounter_ = 0;
    }
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    // Keys that the label editor passes on to its list are the editor's.
    if (event->type() == QEvent::KeyPress && (watched == urls_ || watched == files_) &&
        !IsEditingLabel())
        return Form_KeyDown(static_cast<QKeyEvent*>(event)->key());
    if (watched == dividingLine_ && event->type() == QEvent::MouseMove) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        DividingLine_MouseMove(mouse->buttons(), mouse->position().x());
        return true;
    }
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void MainForm::closeEvent(QCloseEvent* event) {
    if (runningCommands_ > 0) {
        // Closing now would pull the watch list away under the running check.
        closeWaiting_ = true;
        event->ignore();
        return;
    }
    event->accept();
    Form_Unload();
}

void MainForm::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    checkTimer_->stop();
    if (MainPositionSaver) {
        MainPositionSaver->SavePosition();
        MainPositionSaver.reset();
    }
    WriteText(DividerFileName(), DividerText(dividerLeft_));
    if (paintDuringChecks_)
        SetCheckRunner({});
    if (shutDown_)
        shutDown_();
}

} // namespace ornbrook
