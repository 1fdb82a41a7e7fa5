#include "ui/ListViewDelegate.h"

#include <QLineEdit>

namespace ornbrook {

ListViewDelegate::ListViewDelegate(QObject* parent, EditEnded onEditEnded)
    : QStyledItemDelegate(parent), onEditEnded_(std::move(onEditEnded)) {}

QColor ListViewDelegate::HighlightColour() {
    return {190, 205, 225};
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

void ListViewDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                    const QModelIndex& index) const {
    if (!onEditEnded_) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    // One edit ends once, even if the view commits again as the editor closes.
    if (editor->property("ornbrookEditEnded").toBool())
        return;
    editor->setProperty("ornbrookEditEnded", true);
    const auto* line = qobject_cast<QLineEdit*>(editor);
    onEditEnded_(QPersistentModelIndex(index), line ? line->text() : QString());
}

} // namespace ornbrook
