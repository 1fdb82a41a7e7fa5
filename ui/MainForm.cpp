#include "ui/MainForm.h"

#include "base/FileIO_Code.h"
#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"
#include "base/Url.h"
#include "model/DataFileFormat.h"
#include "model/MainInterface.h"
#include "model/MainInterface_Modul.h"
#include "model/UrlFileList.h"
#include "ui/AboutForm.h"
#include "ui/CertificateQuestion.h"
#include "ui/DesktopPresence.h"
#include "ui/DisplayText.h"
#include "ui/DividingLine.h"
#include "ui/DownloadActions.h"
#include "ui/EmptyUrlsHint.h"
#include "ui/FilesModel.h"
#include "ui/FilesView.h"
#include "ui/HelpMessage.h"
#include "ui/HistoryForm.h"
#include "ui/ListViewDelegate.h"
#include "ui/MainCommands.h"
#include "ui/MainFormColours.h"
#include "ui/OptionsForm.h"
#include "ui/PositionSaver.h"
#include "ui/SelectionMemory.h"
#include "ui/StatusMessage.h"
#include "ui/Twips.h"
#include "ui/UrlBanner.h"
#include "ui/UrlEditor.h"
#include "ui/UrlSettingsForm.h"
#include "ui/UrlsModel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace ornbrook {

namespace {

// Design sizes, in twips.
constexpr double ClientWidth = 6765;
constexpr double ClientHeight = 4710;
constexpr double ListHeight = 3375;
constexpr int CheckTimerInterval = 1000;
// The longest a merged result waits for its save while checks go on.
constexpr int SaveDelayMilliseconds = 10000;
// Small enough for half a screen, large enough for both lists and the commands.
constexpr QSize MinimumWindowSize(320, 240);

// How long a message stays in the status line.
constexpr int MessageMilliseconds = 8000;

QTreeView* MakeListView(QWidget* parent, const char* name, const char* accessibleName) {
    auto* view = new QTreeView(parent);
    view->setObjectName(name);
    view->setAccessibleName(accessibleName);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAllColumnsShowFocus(true);
    view->header()->setSectionsMovable(false);
    QPalette palette = view->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, ListBackground());
        palette.setColor(group, QPalette::Text, BlackText());
    }
    view->setPalette(palette);
    return view;
}

} // namespace

MainForm::MainForm(std::function<void()> shutDown) : shutDown_(std::move(shutDown)) {
    setObjectName("MainForm");
    setWindowTitle("Ornbrook");

    auto* client = new QWidget(this);
    client->setObjectName("ClientArea");
    setCentralWidget(client);

    setMinimumSize(MinimumWindowSize);
    urls_ = MakeListView(client, "URLs", "Watched URLs");
    // The column is as wide as the list, or as its widest URL: a long URL is
    // scrolled to, never cut off. The header stretches it to the viewport by
    // itself, in its own layout pass; only the widest URL is ours to tell.
    urls_->header()->setStretchLastSection(true);
    urls_->setTextElideMode(Qt::ElideNone);
    urls_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    urls_->setGeometry(TwipsRect(0, 0, 2775, ListHeight));
    urls_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(urls_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        commands_->ShowContextMenu(urls_->viewport()->mapToGlobal(at));
    });

    dividingLine_ = new DividingLine(client);
    dividingLine_->setGeometry(
        TwipsRect(DividingLine::DesignLeft, 0, DividingLine::Width, ListHeight));
    dividingLine_->Dragged = [this](std::int32_t position) { MoveDividingLine(position); };

    // The file list, with the banner that says what it cannot show above it.
    filesPane_ = new QWidget(client);
    filesPane_->setObjectName("FilesPane");
    auto* column = new QVBoxLayout(filesPane_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    UrlBanner::Handlers bannerHandlers;
    bannerHandlers.CheckNow = [this] { URLs_DblClick(); };
    bannerHandlers.Trust = [this] {
        if (const auto list = SelectedEntry(); list && certificates_)
            certificates_->AskNow(*list);
    };
    bannerHandlers.Settings = [this] { mnuSettings_Click(); };
    banner_ = new UrlBanner(filesPane_, std::move(bannerHandlers));
    column->addWidget(banner_);
    files_ = MakeListView(filesPane_, "Files", "Files of the selected URL");
    column->addWidget(files_, 1);
    filesModel_ = new FilesModel(files_);
    files_->setModel(filesModel_);
    SetUpFilesView(files_, filesModel_);
    filesPane_->setGeometry(TwipsRect(2880, 0, 3015, ListHeight));

    statusMessage_ = new StatusMessage(this);
    statusBar()->addWidget(statusMessage_, 1);
    fileCount_ = new QLabel(this);
    fileCount_->setObjectName("FileCount");
    fileCount_->setAccessibleName("File count");
    statusBar()->addPermanentWidget(fileCount_);
    progress_ = new QLabel(this);
    progress_->setObjectName("Progress");
    progress_->setAccessibleName("Check progress");
    statusBar()->addPermanentWidget(progress_);

    checkTimer_ = new QTimer(this);
    checkTimer_->setObjectName("CheckTimer");
    checkTimer_->setInterval(CheckTimerInterval);
    checkTimer_->setProperty("Tag", QVariant::fromValue<qint64>(0));
    connect(checkTimer_, &QTimer::timeout, this, [this] { CheckTimer_Timer(); });

    saveTimer_ = new QTimer(this);
    saveTimer_->setObjectName("SaveTimer");
    saveTimer_->setSingleShot(true);
    saveTimer_->setInterval(SaveDelayMilliseconds);
    connect(saveTimer_, &QTimer::timeout, this, [this] {
        if (myMainInterface)
            myMainInterface->SaveIfChanged();
    });

    MainCommands::Handlers commands;
    // What is typed into the label editor is the editor's: no command opens
    // another edit over it.
    commands.Add = [this] {
        if (urlEditor_ && !urlEditor_->IsEditing())
            urlEditor_->Insert();
    };
    commands.Edit = [this] {
        if (urlEditor_ && !urlEditor_->IsEditing())
            urlEditor_->Edit(SelectedRow());
    };
    commands.Delete = [this] { DeleteSelectedURL(); };
    commands.CheckNow = [this] { URLs_DblClick(); };
    commands.Settings = [this] {
        if (!(urlEditor_ && urlEditor_->IsEditing()))
            mnuSettings_Click();
    };
    commands.UndoDelete = [this] { UndoDelete(); };
    commands.History = [this] { mnuHistory_Click(); };
    commands.Refresh = [this] { mnuRefresh_Click(); };
    commands.Options = [this] { mnuOptions_Click(); };
    commands.Help = [this] { mnuHelp_Click(); };
    commands.About = [this] { mnuAbout_Click(); };
    commands_ = new MainCommands(this, urls_, std::move(commands));

    client->installEventFilter(this);
    connect(urls_, &QTreeView::clicked, this, [this] { ShowFiles(); });
    connect(urls_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        // Double click on empty space does nothing.
        if (index.isValid())
            URLs_DblClick();
    });

    resize(WidgetSize(TwipsToPixelsX(ClientWidth)).value_or(0),
           WidgetSize(TwipsToPixelsY(ClientHeight)).value_or(0) + menuBar()->sizeHint().height() +
               statusBar()->sizeHint().height() +
               findChild<QWidget*>("ToolBar")->sizeHint().height());
}

MainForm::~MainForm() {
    // It listens to the window and the watch list; it goes before either.
    delete desktop_;
}

void MainForm::Form_Load() {
    MainPositionSaver = std::make_unique<PositionSaver>();
    MainPositionSaver->SetFormName("MainForm");
    MainPositionSaver->SetForm(this);
    MainPositionSaver->LoadPosition();
    // The lists get their sizes before the window is shown, so that a stored
    // divider is weighed against the real width.
    layout()->activate();

    const std::int32_t stored = dividingLine_->ReadStored();
    MoveDividingLine(stored);
    // A divider stored outside the window would hide a list at every start.
    if (dividingLine_->Position() != stored)
        dividingLine_->Store();

    myMainInterface = TheMainInterface;
    MainInterface& watchList = *myMainInterface;
    subscriptions_ += watchList.Change.Connect(
        [this](const ListChange& change) { myMainInterface_Change(change); });
    subscriptions_ += watchList.CheckBegins.Connect(
        [this](const UrlFileList& list) { myMainInterface_CheckBegins(list); });
    subscriptions_ += watchList.CheckEnded.Connect(
        [this](const UrlFileList& list) { myMainInterface_CheckEnded(list); });

    urlsModel_ = new UrlsModel(myMainInterface, urls_);
    urlsModel_->SetFont(urls_->font());
    urlsModel_->SetWarningIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    // A URL removed while selected leaves nothing selected, as a Delete does,
    // rather than whichever row Qt makes current in its place (heard before the view
    // hears of it).
    connect(urlsModel_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                const int selected = SelectedRow();
                selectionRemoved_ = selected >= first && selected <= last;
            });
    connect(urlsModel_, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (std::exchange(selectionRemoved_, false))
            ClearSelection();
    });
    urls_->setModel(urlsModel_);
    UrlEditor::Handlers editing;
    editing.Message = [this](const QString& text) { ShowMessage(text); };
    editing.Ended = [this](const QModelIndex& row, const std::string& text) {
        URLs_AfterLabelEdit(row, text);
    };
    editing.PendingDropped = [this] { ShowFiles(); };
    urlEditor_ = new UrlEditor(urls_, urlsModel_, myMainInterface, std::move(editing));
    // What is selected is what the file list shows, whatever selected it.
    connect(urls_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ShowFiles(); });
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(urlsModel_, signal, this, [this] { FitURLColumnSoon(); });
    connect(urlsModel_, &QAbstractItemModel::dataChanged, this, [this] { FitURLColumnSoon(); });

    // Owned by the window: asks about certificates that checks refused.
    certificates_ = new CertificateQuestion(this, myMainInterface);
    new EmptyUrlsHint(urls_, commands_->Add());
    new DownloadActions({this, files_, filesModel_, statusBar(), [this] { return SelectedEntry(); },
                         [this](const QString& text) { ShowMessage(text); }},
                        myMainInterface);
    myMainInterface->SetChecksAtOnce(myMainInterface->Prefs().ChecksAtOnce());
    ApplyStoredSort(files_, myMainInterface);
    desktop_ = new DesktopPresence(*this, myMainInterface);
    desktop_->setObjectName("DesktopPresence");

    // What looks selected is selected: the URL selected when the window last
    // closed, else the first, with its files.
    if (urlsModel_->rowCount() > 0)
        urls_->setCurrentIndex(
            urlsModel_->index(std::max(0, StoredSelectionRow(*myMainInterface, *urlsModel_))));
    FitURLColumn();
    myMainInterface_Change();
    // Keys work at once: the URL list has the focus, its current row selected.
    urls_->setFocus();
    checkTimer_->start();
    ShowDamageNotice();
}

void MainForm::ShowDamageNotice() {
    if (const std::string notice = myMainInterface->TakeDamageNotice(); !notice.empty())
        ShowDamagedDataMessage(this, notice);
}

void MainForm::Form_Resize() {
    const double clientWidth = PixelsToTwipsX(centralWidget()->width());
    const double clientHeight = PixelsToTwipsY(centralWidget()->height());
    dividingLine_->Follow(clientWidth);
    const double dividerLeft = dividingLine_->Position();
    dividingLine_->move(WidgetCoordinate(TwipsToPixelsX(dividerLeft)), 0);
    // Each size is set on its own; one the toolkit cannot take is skipped.
    const auto height = WidgetSize(TwipsToPixelsY(clientHeight));
    if (const auto width = WidgetSize(TwipsToPixelsX(dividerLeft)))
        urls_->resize(*width, urls_->height());
    if (height)
        urls_->resize(urls_->width(), *height);
    if (height)
        dividingLine_->resize(dividingLine_->width(), *height);
    const double filesLeft = dividerLeft + DividingLine::Width;
    filesPane_->move(WidgetCoordinate(TwipsToPixelsX(filesLeft)), 0);
    if (const auto width = WidgetSize(TwipsToPixelsX(clientWidth - filesLeft)))
        filesPane_->resize(*width, filesPane_->height());
    if (height)
        filesPane_->resize(filesPane_->width(), *height);
}

void MainForm::MoveDividingLine(std::int32_t position) {
    dividingLine_->Place(position, PixelsToTwipsX(centralWidget()->width()));
    Form_Resize();
}

int MainForm::SelectedRow() const {
    const QModelIndexList selected =
        urls_->selectionModel() ? urls_->selectionModel()->selectedRows() : QModelIndexList();
    return selected.isEmpty() ? -1 : selected.first().row();
}

std::shared_ptr<UrlFileList> MainForm::SelectedEntry() const {
    return urlsModel_ ? urlsModel_->EntryAt(SelectedRow()) : nullptr;
}

void MainForm::ClearSelection() {
    if (!urls_->selectionModel())
        return;
    urls_->selectionModel()->clear();
}

void MainForm::SelectURL(const std::string& url) {
    if (!urlsModel_)
        return;
    if (const int row = urlsModel_->RowOf(url); row >= 0) {
        urls_->setCurrentIndex(urlsModel_->index(row));
        urls_->scrollTo(urlsModel_->index(row));
    }
}

void MainForm::FitURLColumnSoon() {
    // Many rows change in one turn of the event loop while results arrive.
    if (std::exchange(fitPosted_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            fitPosted_ = false;
            FitURLColumn();
        },
        Qt::QueuedConnection);
}

void MainForm::FitURLColumn() {
    const QAbstractItemView& view = *urls_; // the widest row, measured as the view draws it
    urls_->header()->setMinimumSectionSize(view.sizeHintForColumn(0));
}

void MainForm::myMainInterface_Change(const ListChange& change) {
    if (!change.List) {
        ShowFiles(true);
    } else if (const auto list = SelectedEntry(); list.get() == change.List) {
        // The rows that changed, in place: the reader keeps selection and place.
        filesModel_->Update(*list, change.Entries);
        ShowState();
    }
    ShowProgress();
}

void MainForm::myMainInterface_CheckBegins(const UrlFileList&) {
    ShowProgress();
    ShowState();
}

void MainForm::myMainInterface_CheckEnded(const UrlFileList&) {
    // The watch list writes a run's results when it ends; while it goes on,
    // what is merged waits no longer than the save timer.
    if (!myMainInterface->HasUnsavedChanges())
        saveTimer_->stop();
    else if (!saveTimer_->isActive())
        saveTimer_->start();
    ShowProgress();
    ShowState();
}

void MainForm::ShowState() {
    const auto list = SelectedEntry();
    // The row being added has nothing to say yet.
    if (!list && SelectedRow() >= 0)
        banner_->hide();
    else
        banner_->Show(list.get(), myMainInterface ? myMainInterface->GetURLsCount() : 0,
                      list && myMainInterface ? myMainInterface->NextTry(*list) : std::nullopt);
    QString count;
    if (list) {
        const std::int32_t shown = list->GetFilesCount();
        const std::int32_t hidden = list->HiddenBySettings();
        count = hidden > 0 ? QString("%1 shown, %2 hidden").arg(shown).arg(hidden)
                           : QString::number(shown) + (shown == 1 ? " file" : " files");
    }
    fileCount_->setText(count);
    fileCount_->setAccessibleDescription(count);
    commands_->Update(list != nullptr, lastDeleted_.has_value());
}

void MainForm::ShowProgress() {
    const std::string text = myMainInterface ? myMainInterface->CheckProgressText() : "";
    if (!text.empty()) {
        progress_->setText(QString::fromStdString(text));
        return;
    }
    if (!progress_->text().isEmpty() && !progress_->text().startsWith("checked"))
        lastCheckedAt_ = QDateTime::currentDateTime().toString("HH:mm:ss").toStdString();
    progress_->setText(
        lastCheckedAt_.empty() ? QString() : QString::fromStdString("checked " + lastCheckedAt_));
}

void MainForm::ShowMessage(const QString& text) {
    statusMessage_->Show(text, MessageMilliseconds);
}

void MainForm::ShowFiles(bool refill) {
    const std::shared_ptr<UrlFileList> list = SelectedEntry();
    // A redraw of the URL already shown keeps the reader's place in a long list;
    // another URL starts at the top.
    const bool sameURL = list && shownFilesURL_ && *shownFilesURL_ == list->URL();
    if (list) {
        if (!sameURL || refill)
            filesModel_->Fill(*list);
        shownFilesURL_ = list->URL();
    } else {
        filesModel_->Clear();
        shownFilesURL_.reset();
    }
    if (!sameURL)
        files_->scrollToTop();
    ShowState();
}

void MainForm::mnuRefresh_Click() {
    myMainInterface->Refresh();
}

void MainForm::mnuOptions_Click() {
    OptionsForm options(this, myMainInterface->Prefs());
    if (options.exec() == QDialog::Accepted) {
        myMainInterface->SetChecksAtOnce(myMainInterface->Prefs().ChecksAtOnce());
        myMainInterface->SetSettleSeconds(myMainInterface->Prefs().SettleSeconds());
    }
}

void MainForm::mnuHelp_Click() {
    ShowHelpMessage(this);
}

void MainForm::mnuAbout_Click() {
    AboutForm about(this);
    about.exec();
}

void MainForm::DeleteSelectedURL() {
    const std::shared_ptr<UrlFileList> list = SelectedEntry();
    if (!list)
        return;
    const std::string url = list->URL();
    lastDeleted_ = Deleted{myMainInterface->GetURLIndex(url), list->GetDataToSave()};
    {
        // Qt would make the next row current: a held Delete would then go on
        // deleting. Nothing is selected after a delete.
        const QSignalBlocker quiet(urls_->selectionModel());
        myMainInterface->RemoveURL(url);
        ClearSelection();
    }
    ShowFiles();
    ShowMessage("Deleted " + ShownText(Url(url).Masked()) + ". Ctrl+Z brings it back.");
}

void MainForm::UndoDelete() {
    if (!lastDeleted_)
        return;
    const Deleted deleted = std::move(*lastDeleted_);
    lastDeleted_.reset();
    const std::int32_t index = myMainInterface->RestoreURL(deleted.Index, deleted.Record);
    const std::string url = myMainInterface->GetURL(index)->URL();
    myMainInterface_Change();
    SelectURL(url);
    ShowMessage("Restored " + ShownText(Url(url).Masked()) + ".");
}

void MainForm::BringToFront() {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void MainForm::URLs_DblClick() {
    // A URL whose check is queued or under way is not checked twice.
    // The user asks: a certificate declined for its server is asked about again.
    if (const auto list = SelectedEntry(); list && !list->IsCheckPending()) {
        certificates_->AskAgainAbout(*list);
        list->CheckFiles();
        ShowState();
    }
}

void MainForm::URLs_AfterLabelEdit(const QModelIndex& row, const std::string& newText) {
    const bool abandoned = UrlEditor::IsAbandonedText(newText);
    if (row.row() == urlsModel_->PendingRow()) {
        urlEditor_->DropPendingRow();
        if (abandoned)
            return;
        myMainInterface->AddURL(newText);
        myMainInterface_Change();
        SelectURL(newText);
        return;
    }
    const std::shared_ptr<UrlFileList> list = urlsModel_->EntryAt(row.row());
    // An emptied edit never blanks a watched URL.
    if (!list || abandoned)
        return;
    myMainInterface->ChangeURL(myMainInterface->GetURLIndex(list->URL()), newText);
    myMainInterface_Change();
}

void MainForm::CheckTimer_Timer() {
    // Uploads that may have finished are looked at again whether or not the
    // periodic check is on.
    myMainInterface->CheckSettling(QDateTime::currentSecsSinceEpoch());
    // The interval as the preferences hold it: no file is read at a tick.
    // The first tick writes a missing interval.dat with its default.
    myMainInterface->Prefs().KeepIntervalDefault();
    const std::int32_t interval = myMainInterface->Prefs().Interval();
    bool globalRunDue = false;
    if (interval != 0) {
        ++checkCounter_;
        if (checkCounter_ > interval) {
            globalRunDue = true;
            checkCounter_ = 0;
        }
        checkTimer_->setProperty("Tag", QVariant::fromValue<qint64>(checkCounter_));
    }
    // URLs with an interval of their own keep it even when the global one is
    // off; paused URLs and those whose check is still pending are left alone.
    myMainInterface->CheckDueFiles(globalRunDue);
}

void MainForm::mnuHistory_Click() {
    HistoryForm history(this, myMainInterface->History({}, 0));
    history.exec();
}

void MainForm::mnuSettings_Click() {
    const auto list = SelectedEntry();
    if (!list)
        return;
    const UrlSettings before = list->Settings();
    if (UrlSettingsForm::Edit(this, *myMainInterface, *list)) {
        // What the new view holds is shown at once, not at the next period.
        if (!before.SameView(list->Settings()))
            list->CheckFiles();
        // The files that went out of view went with the watch list's Change.
        ShowState();
        ShowProgress();
    }
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize)
        Form_Resize();
    return QMainWindow::eventFilter(watched, event);
}

void MainForm::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

void MainForm::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    checkTimer_->stop();
    saveTimer_->stop();
    if (myMainInterface) {
        myMainInterface->StopPrograms(); // none runs while the window closes
        myMainInterface->SaveIfChanged();
        // The window waits for what it asked to be written, and tells a failure.
        myMainInterface->FinishSaves();
    }
    if (MainPositionSaver) {
        MainPositionSaver->SavePosition();
        MainPositionSaver.reset();
    }
    dividingLine_->Store();
    StoreSelection(*myMainInterface, SelectedEntry().get());
    if (shutDown_)
        shutDown_();
}

} // namespace ornbrook
