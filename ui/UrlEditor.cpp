#include "ui/UrlEditor.h"

#include "base/Text_Code.h"
#include "base/Url.h"
#include "model/DataFileFormat.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"
#include "ui/ListViewDelegate.h"
#include "ui/UrlsModel.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QToolTip>
#include <QTreeView>

namespace ornbrook {

namespace {
// What Insert starts with; an edit that leaves only this adds nothing.
constexpr const char* InsertPrefix = "ftp://";
} // namespace

UrlEditor::UrlEditor(QTreeView* urls, UrlsModel* model, std::shared_ptr<MainInterface> watchList,
                     Handlers handlers)
    : QObject(urls), urls_(urls), model_(model), watchList_(std::move(watchList)),
      handlers_(std::move(handlers)) {
    ListViewDelegate::LabelEdit labelEdit;
    labelEdit.Check = [this](const QPersistentModelIndex& index, const QString& text) {
        return RefusalOf(index, text);
    };
    labelEdit.Refused = [this](const QPersistentModelIndex& index, const QString& text,
                               const QString& why) { Refused(index, text, why); };
    labelEdit.Ended = [this](const QPersistentModelIndex& index, const QString& text) {
        EditEnded(index, text);
    };
    labelEdit.Abandoned = [this](const QPersistentModelIndex& index) { Abandoned(index); };
    urls_->setItemDelegate(new ListViewDelegate(urls_, std::move(labelEdit)));
}

bool UrlEditor::IsAbandonedText(const std::string& text) {
    const std::string trimmed = TrimSpaces(text);
    return trimmed.empty() || trimmed == InsertPrefix;
}

bool UrlEditor::IsEditing() const {
    for (const QLineEdit* editor : urls_->viewport()->findChildren<QLineEdit*>()) {
        if (editor->isVisible())
            return true;
    }
    return false;
}

void UrlEditor::Insert() {
    const QModelIndex row = model_->index(model_->AddPendingRow());
    urls_->setCurrentIndex(row);
    urls_->scrollTo(row);
    urls_->setFocus();
    urls_->edit(row);
}

void UrlEditor::Edit(int row) {
    if (row < 0)
        return;
    urls_->setFocus();
    urls_->edit(model_->index(row));
}

void UrlEditor::DropPendingRow() {
    if (model_->PendingRow() < 0)
        return;
    {
        const QSignalBlocker quiet(urls_->selectionModel());
        model_->DropPendingRow();
        urls_->selectionModel()->clear();
    }
    if (handlers_.PendingDropped)
        handlers_.PendingDropped();
}

QString UrlEditor::RefusalOf(const QPersistentModelIndex& index, const QString& text) const {
    const std::string url = ToBytes(text);
    // Nothing typed: the edit is abandoned, which is always allowed.
    if (IsAbandonedText(url))
        return {};
    const auto entry = index.isValid() ? model_->EntryAt(index.row()) : nullptr;
    // A URL kept unchanged is not judged again: what is watched stays watched.
    if (entry && entry->URL() == url)
        return {};
    const Result<Url> judged = JudgeNewURL(url);
    if (!judged)
        return QString::fromStdString(judged.error().Message);
    const std::int32_t found = watchList_->FindURL(judged->Text());
    // Named by its position: look-alike rows show it beside their text.
    if (found != 0 && watchList_->GetURL(found) != entry)
        return QString("This URL is watched already, as #%1 in the list.").arg(found);
    return {};
}

void UrlEditor::Refused(const QPersistentModelIndex& index, const QString& text,
                        const QString& why) {
    if (handlers_.Message)
        handlers_.Message(why);
    // The edit goes on with the text; if the list closed the editor (the current
    // row moved), it opens again.
    QMetaObject::invokeMethod(
        this,
        [this, index, text, why] {
            if (!index.isValid())
                return;
            if (!IsEditing()) {
                urls_->setCurrentIndex(index);
                urls_->edit(index);
            }
            if (QLineEdit* editor = urls_->viewport()->findChild<QLineEdit*>()) {
                if (editor->text() != text)
                    editor->setText(text);
                QToolTip::showText(editor->mapToGlobal(QPoint(0, editor->height())), why, editor);
            }
        },
        Qt::QueuedConnection);
}

void UrlEditor::EditEnded(const QPersistentModelIndex& index, const QString& text) {
    // The editor closes first; the edit then takes effect from the event loop,
    // with the URL as it is kept ("ftp://" in front of host/path, "/" for no path).
    std::string newText = ToBytes(text);
    const auto entry = index.isValid() ? model_->EntryAt(index.row()) : nullptr;
    if (const Result<Url> judged = JudgeNewURL(newText);
        judged && !(entry && entry->URL() == newText))
        newText = judged->Text();
    QMetaObject::invokeMethod(
        this,
        [this, index, newText] {
            if (index.isValid() && handlers_.Ended)
                handlers_.Ended(index, newText);
        },
        Qt::QueuedConnection);
}

void UrlEditor::Abandoned(const QPersistentModelIndex& index) {
    QMetaObject::invokeMethod(
        this,
        [this, index] {
            if (index.isValid() && index.row() == model_->PendingRow())
                DropPendingRow();
        },
        Qt::QueuedConnection);
}

} // namespace ornbrook
