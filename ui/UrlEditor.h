#pragma once

#include "diag/Debug_Modul.h"

#include <QObject>
#include <QPersistentModelIndex>
#include <functional>
#include <memory>
#include <string>

class QTreeView;

namespace ornbrook {

class MainInterface;
class UrlsModel;

// Label editing of the main window's URL rows: Insert opens an editor on a new
// row after the URLs, F2 on the selected one. A finished edit is judged before
// the editor closes: a text that cannot be a watched URL keeps the editor open
// with the text and a reason, so nothing typed is lost. An accepted text goes
// to Ended once the editor has closed; an abandoned new row goes away.
class UrlEditor final : public QObject {
public:
    struct Handlers {
        // A reason to show the user.
        std::function<void(const QString&)> Message;
        // The edit of row ended with text (a new URL for the row being added).
        std::function<void(const QModelIndex& row, const std::string& text)> Ended;
        // The row being added went away: the selection went with it.
        std::function<void()> PendingDropped;
    };

    UrlEditor(QTreeView* urls, UrlsModel* model, std::shared_ptr<MainInterface> watchList,
              Handlers handlers);

    void Insert();
    void Edit(int row);
    bool IsEditing() const;
    void DropPendingRow();
    // Nothing typed, or only what Insert starts with: an abandoned edit.
    static bool IsAbandonedText(const std::string& text);

private:
    // Why a text cannot end an edit (empty when it can).
    QString RefusalOf(const QPersistentModelIndex& index, const QString& text) const;
    void Refused(const QPersistentModelIndex& index, const QString& text, const QString& why);
    void EditEnded(const QPersistentModelIndex& index, const QString& text);
    void Abandoned(const QPersistentModelIndex& index);

    LiveObject live_{"UrlEditor"};
    QTreeView* urls_;
    UrlsModel* model_;
    std::shared_ptr<MainInterface> watchList_;
    Handlers handlers_;
};

} // namespace ornbrook
