#pragma once

#include "diag/Debug_Modul.h"
#include "model/FileStore.h"

#include <QDialog>
#include <vector>

class QComboBox;
class QTableWidget;

namespace ornbrook {

// What happened, as the store keeps it (90 days): one row per event, newest
// first, with its time (local), URL (password masked), event, name and what
// more there is to say. Two lists filter the rows by URL and by event.
// Widgets carry object names for tests: "HistoryUrl", "HistoryEvent",
// "HistoryTable".
class HistoryForm final : public QDialog {
public:
    HistoryForm(QWidget* parent, std::vector<HistoryEvent> events);

private:
    void ShowRows();

    LiveObject live_{"HistoryForm"};
    std::vector<HistoryEvent> events_;
    QComboBox* url_;
    QComboBox* event_;
    QTableWidget* table_;
};

} // namespace ornbrook
