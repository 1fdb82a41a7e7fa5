#include "ui/DebugForm.h"

#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "ui/DisplayText.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace ornbrook {

namespace {

QTreeWidget* MakeListView(const QStringList& columns) {
    auto* view = new QTreeWidget;
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setColumnCount(static_cast<int>(columns.size()));
    view->setHeaderLabels(columns);
    // The name takes the room left by the numbers, which are sized to their contents.
    QHeaderView* header = view->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    return view;
}

void SetRow(QTreeWidget* view, std::size_t row, const QStringList& cells) {
    // Row 1 of the module is the view's first item.
    const int index = static_cast<int>(row) - 1;
    QTreeWidgetItem* item = view->topLevelItem(index);
    if (!item) {
        item = new QTreeWidgetItem(view);
        for (int c = 1; c < cells.size(); ++c)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (int c = 0; c < cells.size(); ++c)
        item->setText(c, cells[c]);
}

} // namespace

DebugForm::DebugForm()
    : text1_(new QPlainTextEdit), listView1_(MakeListView({"Klasse", "Anzahl"})),
      listView2_(MakeListView({"Prozess", "Durchschnitt", "L\u00e4ngste", "Anzahl", "Gesammt"})) {
    setWindowTitle("DebugForm");
    setObjectName("DebugForm");
    text1_->setObjectName("Text1");
    text1_->setReadOnly(true);
    text1_->setLineWrapMode(QPlainTextEdit::NoWrap);
    listView1_->setObjectName("ListView1");
    listView2_->setObjectName("ListView2");
    text1_->setAccessibleName("Log");
    listView1_->setAccessibleName("Live objects per class");
    listView2_->setAccessibleName("Timed processes");

    auto* lists = new QSplitter(Qt::Horizontal);
    lists->addWidget(listView1_);
    lists->addWidget(listView2_);
    lists->setStretchFactor(0, 1);
    lists->setStretchFactor(1, 2);
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(text1_);
    split->addWidget(lists);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);
    resize(640, 480);
}

template <typename F> void DebugForm::OnGuiThread(F&& change) {
    if (QThread::currentThread() == thread())
        change();
    else
        QMetaObject::invokeMethod(this, std::forward<F>(change), Qt::QueuedConnection);
}

void DebugForm::ShowWindow() {
    OnGuiThread([this] { show(); });
}

void DebugForm::ShowPaneText(const std::string& text) {
    OnGuiThread([this, text = DisplayText(text)] {
        text1_->setPlainText(text);
        text1_->moveCursor(QTextCursor::End);
        text1_->verticalScrollBar()->setValue(text1_->verticalScrollBar()->maximum());
    });
}

void DebugForm::ShowClassRow(std::size_t row, const KlassenInfo& info) {
    OnGuiThread(
        [this, row, cells = QStringList{DisplayText(info.Name), QString::number(info.Anzahl)}] {
            SetRow(listView1_, row, cells);
        });
}

void DebugForm::ShowProzessRow(std::size_t row, const ProzessInfo& info) {
    QStringList cells{DisplayText(info.Name),
                      QString::fromStdString(NumberToText(info.Durchschnitt)),
                      QString::number(info.Laengste), QString::number(info.Anzahl),
                      QString::number(info.Gesammt)};
    OnGuiThread([this, row, cells = std::move(cells)] { SetRow(listView2_, row, cells); });
}

void DebugForm::closeEvent(QCloseEvent* event) {
    if (Unloading)
        event->accept();
    else
        event->ignore();
}

} // namespace ornbrook
