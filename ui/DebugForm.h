#pragma once

#include "diag/Debug_Modul.h"

#include <QWidget>

class QPlainTextEdit;
class QTreeWidget;

namespace ornbrook {

// The debug window: the log pane, live-object counts and process timings.
// Shown at every start; refuses to close until shutdown has begun.
class DebugForm final : public QWidget, public DebugView {
public:
    DebugForm();

    void ShowWindow() override;
    void ShowPaneText(const std::string& text) override;
    void ShowClassRow(std::size_t row, const KlassenInfo& info) override;
    void ShowProzessRow(std::size_t row, const ProzessInfo& info) override;

    QPlainTextEdit* Text1() const { return text1_; }
    QTreeWidget* ListView1() const { return listView1_; }
    QTreeWidget* ListView2() const { return listView2_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The module may report from a worker thread; widgets change on their own thread.
    template <typename F> void OnGuiThread(F&& change);

    QPlainTextEdit* text1_;
    QTreeWidget* listView1_;
    QTreeWidget* listView2_;
};

} // namespace ornbrook
