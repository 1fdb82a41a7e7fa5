#pragma once

#include "diag/Debug_Modul.h"

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>
#include <functional>

namespace ornbrook {

// Item delegate of the main window's lists.
// - A selected item keeps its own text colour on a light highlight, so that the
//   grey, red and black of the display rules stay readable when selected.
// - Label editing: a finished edit (Enter, or the editor losing the focus) is
//   handed to the end-of-edit handler instead of being written into the item;
//   an abandoned edit (Esc) reaches nobody. The handler decides the item's text.
class ListViewDelegate final : public QStyledItemDelegate {
public:
    using EditEnded = std::function<void(const QPersistentModelIndex& index, const QString& text)>;

    explicit ListViewDelegate(QObject* parent, EditEnded onEditEnded = {});

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

    // Colour of a selected item's background.
    static QColor HighlightColour();

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    LiveObject live_{"ListViewDelegate"};
    EditEnded onEditEnded_;
};

} // namespace ornbrook
