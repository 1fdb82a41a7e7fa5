#include "ui/DownloadActions.h"

#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"
#include "model/DownloadQueue.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTreeView>
#include <QUrl>

namespace ornbrook {

namespace {

QString Counted(int count, const char* one, const char* many) {
    return QString::number(count) + ' ' + (count == 1 ? one : many);
}

} // namespace

DownloadActions::DownloadActions(Parts parts, const std::shared_ptr<MainInterface>& watchList,
                                 AskFolder ask)
    : QObject(parts.Window), parts_(std::move(parts)), watchList_(watchList), ask_(std::move(ask)) {
    QTreeView* files = parts_.Files;
    files->setSelectionMode(QAbstractItemView::ExtendedSelection);
    download_ = new QAction("Download...", files);
    download_->setObjectName("DownloadFiles");
    download_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    download_->setShortcutContext(Qt::WidgetShortcut);
    connect(download_, &QAction::triggered, this, [this] { DownloadSelected(); });
    copy_ = new QAction("Copy URL", files);
    copy_->setObjectName("CopyFileURL");
    copy_->setShortcut(QKeySequence::Copy);
    copy_->setShortcutContext(Qt::WidgetShortcut);
    connect(copy_, &QAction::triggered, this, [this] { CopySelectedURLs(); });
    open_ = new QAction("Open", files);
    open_->setObjectName("OpenSavedFile");
    open_->setToolTip("Open the saved file with the desktop's program for it");
    connect(open_, &QAction::triggered, this, [this] { OpenSaved(false); });
    show_ = new QAction("Show in folder", files);
    show_->setObjectName("ShowSavedFile");
    connect(show_, &QAction::triggered, this, [this] { OpenSaved(true); });
    openFolder_ = new QAction("Open the download folder", files);
    openFolder_->setObjectName("OpenDownloadFolder");
    connect(openFolder_, &QAction::triggered, this, [this] { OpenDownloadFolder(); });
    files->addActions({download_, copy_, open_, show_, openFolder_});
    files->setContextMenuPolicy(Qt::ActionsContextMenu);
    // The same commands in the menu bar, before the design's own commands.
    if (auto* window = qobject_cast<QMainWindow*>(parts_.Window)) {
        auto* menu = new QMenu("&Files", window);
        menu->setObjectName("FilesMenu");
        menu->menuAction()->setObjectName("mnuFiles");
        menu->addActions({download_, copy_, open_, show_, openFolder_});
        auto* refresh = window->findChild<QAction*>("mnuRefresh");
        window->menuBar()->insertMenu(refresh, menu);
    }
    connect(files->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { UpdateActions(); });
    connect(parts_.Model, &QAbstractItemModel::modelReset, this, [this] { UpdateActions(); });
    UpdateActions();

    progress_ = new QLabel(parts_.StatusBar);
    progress_->setObjectName("DownloadProgress");
    progress_->setAccessibleName("Download progress");
    cancel_ = new QPushButton("Cancel downloads", parts_.StatusBar);
    cancel_->setObjectName("CancelDownloads");
    connect(cancel_, &QPushButton::clicked, this, [this] { CancelAll(); });
    parts_.StatusBar->addPermanentWidget(progress_);
    parts_.StatusBar->addPermanentWidget(cancel_);
    progress_->hide();
    cancel_->hide();

    model_ = parts_.Model;
    model_->SetDownloadNotes(&notes_);
    news_ = watchList->Downloads().News.Connect([this](const DownloadNews& news) { Heard(news); });
}

DownloadActions::~DownloadActions() {
    if (model_)
        model_->SetDownloadNotes(nullptr);
}

QString DownloadActions::OfferedFolder() const {
    // A folder that is not there (any more) cannot be chosen in the dialog.
    const auto watchList = watchList_.lock();
    const QString kept = QString::fromStdString(
        watchList ? watchList->Prefs().Line(Preferences::Key::DownloadFolder).value_or("") : "");
    if (!kept.isEmpty() && QDir(kept).exists())
        return kept;
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return !desktop.isEmpty() && QDir(desktop).exists() ? desktop : QDir::homePath();
}

QString DownloadActions::AskWithDialog(QWidget* window, const QString& offered) {
    return QFileDialog::getExistingDirectory(window, "Download to", offered);
}

void DownloadActions::DownloadSelected() {
    const auto list = parts_.Shown ? parts_.Shown() : nullptr;
    const auto watchList = watchList_.lock();
    if (!list || !watchList)
        return;
    std::vector<FileEntry> files;
    int folders = 0, links = 0, gone = 0;
    for (const QModelIndex& row : parts_.Files->selectionModel()->selectedRows()) {
        const FileEntry& entry = list->GetEntry(parts_.Model->IndexAt(row.row()));
        // Only what the server still lists as a file can be fetched.
        if (entry.Facts.Type == EntryType::Folder)
            ++folders;
        else if (entry.Facts.Type == EntryType::Link)
            ++links;
        else if (parts_.Model->MarkAt(row.row()) == FileMark::Gone)
            ++gone;
        else
            files.push_back(entry);
    }
    QStringList passed;
    if (folders > 0)
        passed << Counted(folders, "folder", "folders");
    if (links > 0)
        passed << Counted(links, "link", "links");
    if (gone > 0)
        passed << Counted(gone, "gone file", "gone files");
    const QString passedOver =
        passed.isEmpty()
            ? QString()
            : (passed.size() > 1
                   ? passed.mid(0, passed.size() - 1).join(", ") + " and " + passed.last()
                   : passed.first()) +
                  " passed over";
    if (files.empty()) {
        parts_.Say(passed.isEmpty() ? "Select the files to download first."
                                    : "Nothing to download: " + passedOver +
                                          " (folders, links and gone files cannot be downloaded).");
        return;
    }
    const QString folder = ask_(parts_.Window, OfferedFolder());
    if (folder.isEmpty())
        return;
    watchList->Prefs().SetLine(Preferences::Key::DownloadFolder, folder.toStdString());
    lastFolder_ = folder;
    passedOver_ = passedOver;
    parts_.Files->header()->setSectionHidden(FilesModel::DownloadColumn, false);
    auto& asked = asked_[list->URL()];
    auto& notes = notes_[list->URL()];
    for (const FileEntry& file : files) {
        asked[file.Name] = Asked{file.Facts.Size.value_or(0), 0, false};
        notes[file.Name] = {"queued", "waiting to download"};
    }
    watchList->Downloads().Download(list->ParsedURL(), files, folder.toStdString());
    if (model_)
        model_->DownloadNotesChanged();
    ShowProgress();
}

void DownloadActions::CopySelectedURLs() {
    const auto list = parts_.Shown ? parts_.Shown() : nullptr;
    if (!list)
        return;
    QStringList urls;
    for (const QModelIndex& row : parts_.Files->selectionModel()->selectedRows())
        urls << DisplayText(list->ParsedURL().FileUrl(parts_.Model->NameAt(row.row())));
    if (urls.isEmpty())
        return;
    QApplication::clipboard()->setText(urls.join('\n'));
    parts_.Say("Copied " + Counted(static_cast<int>(urls.size()), "URL", "URLs") +
               " (passwords masked).");
}

void DownloadActions::CancelAll() {
    const auto watchList = watchList_.lock();
    int cancelled = 0;
    for (auto& [url, files] : asked_) {
        std::vector<std::string> names;
        for (auto& [name, asked] : files) {
            if (asked.Ended)
                continue;
            names.push_back(name);
            asked.Ended = true;
            notes_[url][name] = {"cancelled", "download cancelled"};
        }
        cancelled += static_cast<int>(names.size());
        if (watchList)
            watchList->Downloads().Cancel(url, names);
    }
    if (model_)
        model_->DownloadNotesChanged();
    parts_.Say("Cancelled " + Counted(cancelled, "download", "downloads") + ".");
    asked_.clear();
    ShowProgress();
}

void DownloadActions::Heard(const DownloadNews& news) {
    FilesModel::DownloadNote& note = notes_[news.Url][news.Name];
    Asked* asked = nullptr;
    if (const auto url = asked_.find(news.Url); url != asked_.end())
        if (const auto file = url->second.find(news.Name); file != url->second.end())
            asked = &file->second;
    const QString name = ShownText(news.Name);
    switch (news.What) {
    case DownloadNews::Stage::Started:
    case DownloadNews::Stage::Progress: {
        const std::uint64_t size = news.Size.value_or(0);
        note.Short = size > 0 ? QString::number(news.Length * 100 / size) + " %"
                              : FilesModel::ShortSize(news.Length);
        note.Long = "downloading: " + FilesModel::ShortSize(news.Length) +
                    (size > 0 ? " of " + FilesModel::ShortSize(size) : QString());
        if (asked) {
            asked->Length = news.Length;
            asked->Size = size;
        }
        break;
    }
    case DownloadNews::Stage::Saved:
    case DownloadNews::Stage::AlreadyThere: {
        // A file of that name was there: what it is saved as is said, not
        // only in a tooltip.
        const std::string savedName = news.SavedAs.substr(news.SavedAs.rfind('/') + 1);
        const bool renamed =
            !savedName.empty() && savedName != news.Name.substr(news.Name.rfind('/') + 1);
        note = {renamed ? "saved as " + ShownText(savedName) : QString("saved"),
                (news.What == DownloadNews::Stage::Saved ? "saved to " : "already there: ") +
                    ShownText(news.SavedAs),
                QString::fromStdString(news.SavedAs)};
        if (asked) {
            parts_.Say(name + (renamed ? " saved as " : " saved to ") + ShownText(news.SavedAs));
            ++saved_;
            if (renamed)
                renamed_ << name + " as " + ShownText(savedName);
        }
        break;
    }
    case DownloadNews::Stage::Failed:
    case DownloadNews::Stage::Refused:
        note = {(news.What == DownloadNews::Stage::Failed ? "failed: " : "refused: ") +
                    ShownText(news.Message),
                ShownText(news.Message)};
        if (asked) {
            parts_.Say(name + ": " + ShownText(news.Message));
            ++failed_;
        }
        break;
    }
    if (asked && news.What != DownloadNews::Stage::Started &&
        news.What != DownloadNews::Stage::Progress)
        asked->Ended = true;
    if (model_)
        model_->DownloadNoteChanged(news.Url, news.Name);
    ShowProgress();
    UpdateActions();
}

void DownloadActions::UpdateActions() {
    const bool saved = model_ && !model_->SavedPathAt(parts_.Files->currentIndex().row()).isEmpty();
    open_->setEnabled(saved);
    show_->setEnabled(saved);
}

void DownloadActions::OpenSaved(bool folderOnly) {
    const QString path =
        model_ ? model_->SavedPathAt(parts_.Files->currentIndex().row()) : QString();
    if (path.isEmpty())
        return;
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(folderOnly ? QFileInfo(path).absolutePath() : path));
}

void DownloadActions::OpenDownloadFolder() {
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(lastFolder_.isEmpty() ? OfferedFolder() : lastFolder_));
}

void DownloadActions::ShowProgress() {
    int running = 0;
    std::uint64_t length = 0, size = 0;
    for (const auto& [url, files] : asked_)
        for (const auto& [name, asked] : files)
            if (!asked.Ended) {
                ++running;
                length += asked.Length;
                size += asked.Size;
            }
    if (running > 0) {
        QString text = "Downloading " + Counted(running, "file", "files");
        if (size > 0)
            text += ": " + QString::number(length * 100 / size) + " %";
        progress_->setText(text);
        progress_->show();
        cancel_->show();
        return;
    }
    progress_->hide();
    cancel_->hide();
    if (!asked_.empty() && (saved_ > 0 || failed_ > 0)) {
        QString text = "Downloaded " + Counted(saved_, "file", "files") + " to " + lastFolder_;
        if (!renamed_.isEmpty())
            text += " (" + renamed_.join(", ") + ")";
        if (failed_ > 0)
            text += "; " + QString::number(failed_) + " failed (tried again at the next check)";
        if (!passedOver_.isEmpty())
            text += "; " + passedOver_;
        parts_.Say(text + ".");
    }
    asked_.clear();
    renamed_.clear();
    passedOver_.clear();
    saved_ = failed_ = 0;
}

} // namespace ornbrook
