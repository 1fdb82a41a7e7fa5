#pragma once

#include "diag/Debug_Modul.h"

#include <QWidget>

class QAbstractItemView;
class QAction;

namespace ornbrook {

// What the URL list shows while it has no URL: how to add one, with a button
// that does it. It lies over the list's empty area and goes away with the
// first row. Object names: "EmptyHint", its button "EmptyHintAdd".
class EmptyUrlsHint final : public QWidget {
public:
    // add is the window's Add command.
    EmptyUrlsHint(QAbstractItemView* list, QAction* add);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Follow();

    LiveObject live_{"EmptyUrlsHint"};
    QAbstractItemView* list_;
};

} // namespace ornbrook
