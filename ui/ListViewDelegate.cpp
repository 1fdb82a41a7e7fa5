#include "ui/ListViewDelegate.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace ornbrook {

namespace {

constexpr const char* IndexProperty = "ornbrookEditedIndex";
constexpr const char* EndedProperty = "ornbrookEditEnded";

QPersistentModelIndex EditedIndex(const QWidget* editor) {
    return editor->property(IndexProperty).value<QPersistentModelIndex>();
}

QString EditorText(const QWidget* editor) {
    const auto* line = qobject_cast<const QLineEdit*>(editor);
    return line ? line->text() : QString();
}

} // namespace

ListViewDelegate::ListViewDelegate(QObject* parent, LabelEdit labelEdit)
    : QStyledItemDelegate(parent), labelEdit_(std::move(labelEdit)) {}

QColor ListViewDelegate::HighlightColour() {
    // Light enough for the grey and red of the display rules (see MainFormColours.h).
    return {215, 228, 245};
}

void ListViewDelegate::initStyleOption(QStyleOptionViewItem* option,
                                       const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const QBrush text = option->palette.brush(QPalette::Text);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        option->palette.setBrush(group, QPalette::HighlightedText, text);
        option->palette.setColor(group, QPalette::Highlight, HighlightColour());
    }
}

QWidget* ListViewDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (editor)
        editor->setProperty(IndexProperty, QVariant::fromValue(QPersistentModelIndex(index)));
    return editor;
}

void ListViewDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* line = qobject_cast<QLineEdit*>(editor);
    const QVariant text = index.data(EditRole);
    if (line && text.isValid())
        line->setText(text.toString());
    else
        QStyledItemDelegate::setEditorData(editor, index);
}

bool ListViewDelegate::Refuses(QWidget* editor) const {
    if (!labelEdit_.Check)
        return false;
    const QPersistentModelIndex index = EditedIndex(editor);
    const QString text = EditorText(editor);
    const QString why = labelEdit_.Check(index, text);
    if (why.isEmpty())
        return false;
    if (labelEdit_.Refused)
        labelEdit_.Refused(index, text, why);
    return true;
}

void ListViewDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                    const QModelIndex& index) const {
    if (!labelEdit_.Ended) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    // One edit ends once, even if the view commits again as the editor closes.
    if (editor->property(EndedProperty).toBool())
        return;
    editor->setProperty(EndedProperty, true);
    // The view also commits when the current item moves; a refused text then
    // reaches Refused, which opens the edit again.
    if (Refuses(editor))
        return;
    labelEdit_.Ended(QPersistentModelIndex(index), EditorText(editor));
}

bool ListViewDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* editor = qobject_cast<QWidget*>(object);
    if (!editor || !labelEdit_.Ended)
        return QStyledItemDelegate::eventFilter(object, event);
    bool commits = event->type() == QEvent::FocusOut;
    if (event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            commits = true;
            break;
        case Qt::Key_Escape: {
            const QPersistentModelIndex index = EditedIndex(editor);
            editor->setProperty(EndedProperty, true);
            const bool handled = QStyledItemDelegate::eventFilter(object, event);
            if (labelEdit_.Abandoned)
                labelEdit_.Abandoned(index);
            return handled;
        }
        default:
            break;
        }
    }
    // A refused text keeps the editor open: the event that would end it is eaten.
    if (commits && !editor->property(EndedProperty).toBool() && Refuses(editor))
        return true;
    return QStyledItemDelegate::eventFilter(object, event);
}

} // namespace ornbrook
