#include "ui/HistoryForm.h"

#include "model/UrlNames.h"
#include "ui/DisplayText.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <set>

namespace ornbrook {

namespace {
constexpr const char* Events[] = {"new",     "changed",       "gone",        "saved",
                                  "refused", "program ended", "check failed"};
const QString All = "(all)";
} // namespace

HistoryForm::HistoryForm(QWidget* parent, std::vector<HistoryEvent> events)
    : QDialog(parent), events_(std::move(events)), url_(new QComboBox(this)),
      event_(new QComboBox(this)), table_(new QTableWidget(this)) {
    setObjectName("HistoryForm");
    setWindowTitle("History");
    url_->setObjectName("HistoryUrl");
    url_->setAccessibleName("Show the events of URL");
    event_->setObjectName("HistoryEvent");
    event_->setAccessibleName("Show the events of kind");
    table_->setObjectName("HistoryTable");
    table_->setAccessibleName("Events");
    std::set<std::string> urls;
    for (const HistoryEvent& event : events_)
        urls.emplace(UrlNames::MaskedPart(event.Url));
    url_->addItem(All);
    for (const std::string& url : urls)
        url_->addItem(ShownText(url), QString::fromStdString(url));
    event_->addItem(All);
    for (const char* what : Events)
        event_->addItem(what, QString(what));

    table_->setColumnCount(5);
    table_->setHorizontalHeaderLabels({"Time", "URL", "Event", "Name", "Detail"});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);

    auto* filters = new QFormLayout;
    filters->addRow("&URL:", url_);
    filters->addRow("&Event:", event_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table_, 1);
    layout->addWidget(buttons);
    connect(url_, &QComboBox::currentIndexChanged, this, [this] { ShowRows(); });
    connect(event_, &QComboBox::currentIndexChanged, this, [this] { ShowRows(); });
    resize(720, 420);
    ShowRows();
}

void HistoryForm::ShowRows() {
    const QString url = url_->currentData().toString();
    const QString what = event_->currentData().toString();
    table_->setRowCount(0);
    // Newest first: what the user opens the view for.
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
        const QString shownUrl = QString::fromStdString(std::string(UrlNames::MaskedPart(it->Url)));
        if ((!url.isEmpty() && shownUrl != url) ||
            (!what.isEmpty() && QString::fromStdString(it->What) != what))
            continue;
        const int row = table_->rowCount();
        table_->insertRow(row);
        const QString cells[] = {
            QDateTime::fromSecsSinceEpoch(it->Time).toString("yyyy-MM-dd HH:mm:ss"),
            ShownText(std::string(UrlNames::MaskedPart(it->Url))), QString::fromStdString(it->What),
            ShownText(it->Name), ShownText(it->Detail)};
        for (int column = 0; column < 5; ++column)
            table_->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    table_->resizeColumnsToContents();
}

} // namespace ornbrook
