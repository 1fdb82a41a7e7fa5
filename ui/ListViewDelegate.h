#pragma once

#include "diag/Debug_Modul.h"

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>
#include <functional>

namespace ornbrook {

// Item delegate of the main window's lists.
// - A selected item keeps its own text colour on a light highlight, so that the
//   grey, red and black of the display rules stay readable when selected.
// - Label editing: the editor starts with the item's EditRole text when it has
//   one (the real URL behind a masked display). A finished edit (Enter, Tab, or
//   the editor losing the focus) is first offered to Check: a refused text keeps
//   the editor open with it (Refused tells why); an accepted one is handed to
//   Ended instead of being written into the item. An abandoned edit (Esc) goes
//   to Abandoned. The handlers decide the item's text.
class ListViewDelegate final : public QStyledItemDelegate {
public:
    static constexpr int EditRole = Qt::UserRole + 1;

    struct LabelEdit {
        // Empty when the text may end the edit, else why not.
        std::function<QString(const QPersistentModelIndex&, const QString&)> Check;
        std::function<void(const QPersistentModelIndex&, const QString& text, const QString& why)>
            Refused;
        std::function<void(const QPersistentModelIndex&, const QString&)> Ended;
        std::function<void(const QPersistentModelIndex&)> Abandoned;
    };

    explicit ListViewDelegate(QObject* parent, LabelEdit labelEdit = {});

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

    // Colour of a selected item's background.
    static QColor HighlightColour();

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    // True when the editor's text is refused (and Refused was told).
    bool Refuses(QWidget* editor) const;

    LiveObject live_{"ListViewDelegate"};
    LabelEdit labelEdit_;
};

} // namespace ornbrook
