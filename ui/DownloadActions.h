#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "ui/FilesModel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QPushButton;
class QStatusBar;
class QTreeView;
class QWidget;

namespace ornbrook {

class MainInterface;
class UrlFileList;
struct DownloadNews;

// The file pane's own commands, in its context menu and the Files menu:
// Download... (Ctrl+S) fetches the selected files into a folder the user picks
// (the last one offered again, the desktop's download folder the first time),
// Copy URL puts the selected files' URLs, password masked, on the clipboard,
// Open and Show in folder hand a saved file to the desktop, and Open the
// download folder shows where files went. Each file's row tells in its download
// column how far its download is and where it went; the status line sums up
// (what was saved under another name, what was passed over), and a Cancel
// button there calls off what was asked for.
class DownloadActions final : public QObject {
public:
    struct Parts {
        QWidget* Window = nullptr;
        QTreeView* Files = nullptr;
        FilesModel* Model = nullptr;
        QStatusBar* StatusBar = nullptr;
        // The URL whose files are shown.
        std::function<std::shared_ptr<UrlFileList>()> Shown;
        // A message for the status line.
        std::function<void(const QString&)> Say;
    };
    // Asks for the folder to download into; empty when the user cancels.
    using AskFolder = std::function<QString(QWidget* window, const QString& offered)>;

    DownloadActions(Parts parts, const std::shared_ptr<MainInterface>& watchList,
                    AskFolder ask = AskWithDialog);
    ~DownloadActions() override;
    DownloadActions(const DownloadActions&) = delete;
    DownloadActions& operator=(const DownloadActions&) = delete;

    void DownloadSelected();
    void CopySelectedURLs();
    void OpenSaved(bool folderOnly);
    void OpenDownloadFolder();
    void CancelAll();

    static QString AskWithDialog(QWidget* window, const QString& offered);
    // Where downloads go unless the user picked another folder before
    // (downloadfolder.dat beside the watch list, through its preferences).
    QString OfferedFolder() const;

private:
    void Heard(const DownloadNews& news);
    void ShowProgress();
    void UpdateActions();

    struct Asked {
        std::uint64_t Size = 0;
        std::uint64_t Length = 0;
        bool Ended = false;
    };

    LiveObject live_{"DownloadActions"};
    Parts parts_;
    // The model may go before us when the window's children are torn down.
    QPointer<FilesModel> model_;
    std::weak_ptr<MainInterface> watchList_;
    AskFolder ask_;
    QAction* download_;
    QAction* copy_;
    QAction* open_;
    QAction* show_;
    QAction* openFolder_;
    QLabel* progress_;
    QPushButton* cancel_;
    Subscription news_;
    FilesModel::DownloadNotes notes_;
    // What the user asked for and has not ended, by URL and name.
    std::map<std::string, std::map<std::string, Asked>> asked_;
    int saved_ = 0;
    int failed_ = 0;
    // What the last Download... could not take, said with its sum ("1 folder
    // and 1 gone file passed over").
    QString passedOver_;
    // Files saved under another name than their own, "a.txt as a (2).txt".
    QStringList renamed_;
    QString lastFolder_;
};

} // namespace ornbrook
