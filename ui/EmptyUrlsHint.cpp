#include "ui/EmptyUrlsHint.h"

#include <QAbstractItemView>
#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace ornbrook {

EmptyUrlsHint::EmptyUrlsHint(QAbstractItemView* list, QAction* add)
    : QWidget(list->viewport()), list_(list) {
    setObjectName("EmptyHint");
    auto* text = new QLabel("No URL is watched yet.\n\nAdd the FTP directory to watch, "
                            "such as ftp://ftp.example.org/pub/, with the button below, "
                            "the URL menu or the Insert key.",
                            this);
    text->setObjectName("EmptyHintText");
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    // Black on the list's grey, 5.3:1.
    text->setStyleSheet("color: black");
    auto* button = new QPushButton(add->icon(), "Add URL...", this);
    button->setObjectName("EmptyHintAdd");
    button->setToolTip(add->toolTip());
    connect(button, &QPushButton::clicked, add, &QAction::trigger);
    auto* column = new QVBoxLayout(this);
    column->addStretch();
    column->addWidget(text);
    column->addWidget(button, 0, Qt::AlignHCenter);
    column->addStretch();

    list_->viewport()->installEventFilter(this);
    QAbstractItemModel* model = list_->model();
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, [this] { Follow(); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { Follow(); });
    Follow();
}

bool EmptyUrlsHint::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() && event->type() == QEvent::Resize)
        Follow();
    return QWidget::eventFilter(watched, event);
}

void EmptyUrlsHint::Follow() {
    setGeometry(list_->viewport()->rect());
    const bool empty = list_->model()->rowCount() == 0;
    setVisible(empty);
    // A screen reader reads the list, not what lies over it.
    list_->setAccessibleDescription(empty ? "No URL is watched yet: add one with the Add URL "
                                            "button, the URL menu or the Insert key."
                                          : QString());
}

} // namespace ornbrook
