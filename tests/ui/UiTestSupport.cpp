#include "tests/ui/UiTestSupport.h"

#include "base/FileIO_Code.h"
#include "model/MainInterface.h"
#include "ui/CheckPump.h"
#include "ui/MainFormColours.h"

#include <QAbstractItemModelTester>
#include <QAccessibleActionInterface>
#include <QCoreApplication>
#include <QTreeView>
#include <algorithm>
#include <cmath>

namespace ornbrook::test {

namespace {
QAccessibleInterface* FindUnder(QAccessibleInterface* node, QAccessible::Role role,
                                const QString& name, int depth) {
    if (!node || depth > 12)
        return nullptr;
    if (node->role() == role && node->text(QAccessible::Name) == name)
        return node;
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* found = FindUnder(node->child(i), role, name, depth + 1))
            return found;
    }
    return nullptr;
}

double Luminance(const QColor& colour) {
    const auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}
} // namespace

QAccessibleInterface* FindAccessible(QWidget* root, QAccessible::Role role, const QString& name) {
    return FindUnder(QAccessible::queryAccessibleInterface(root), role, name, 0);
}

void Press(QAccessibleInterface* accessible) {
    ASSERT_NE(accessible, nullptr);
    ASSERT_NE(accessible->actionInterface(), nullptr);
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

UrlRecord Watched(std::string url, std::string error, std::vector<FileEntry> entries) {
    UrlRecord record{std::move(url), std::move(error), {FileEntry{}}};
    record.Entries.insert(record.Entries.end(), entries.begin(), entries.end());
    return record;
}

void WriteWatchList(const std::vector<UrlRecord>& urls) {
    std::string bytes;
    for (const UrlRecord& r : urls)
        AppendFrame(bytes, r.URL, r.ErrorMsg, r.Entries);
    WriteBytes(MainInterface::DataFileName(), bytes);
}

QLineEdit* OpenEditor(QWidget* viewport) {
    for (QLineEdit* editor : viewport->findChildren<QLineEdit*>()) {
        if (editor->isVisible())
            return editor;
    }
    return nullptr;
}

QString Look(QString text, bool bold, const QColor& colour) {
    if (bold)
        text += ":b";
    if (colour == GreyText())
        text += ":g";
    else if (colour == RedText())
        text += ":r";
    else if (colour != QColor(0, 0, 0))
        text += ":" + colour.name();
    return text;
}

void MainFormFixture::Load(const std::vector<UrlRecord>& urls) {
    dir.ReportAtOnce();
    WriteWatchList(urls);
    CreateMainInterface();
    InstallCheckPump(TheMainInterface);
    form = std::make_unique<MainForm>([this] { ++shutDowns; });
    form->Form_Load();
    // Every test of the window also checks that its URL rows keep the rules of
    // a model while the watch list changes under them.
    new QAbstractItemModelTester(URLs().model(),
                                 QAbstractItemModelTester::FailureReportingMode::Fatal, form.get());
    form->show();
    // Keys reach the commands of the window that has the focus, as on a desktop.
    form->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
}

void MainFormFixture::TearDown() {
    form.reset();
    DestroyMainInterface();
}

bool MainFormFixture::WaitForChecks() {
    return QTest::qWaitFor([this] { return Watch().CheckProgressText().empty(); }, 20000);
}

QStringList MainFormFixture::URLRows() {
    QStringList rows;
    for (int r = 0; r < URLs().model()->rowCount(); ++r)
        rows << Look(Item(r).data().toString(), Item(r).data(Qt::FontRole).value<QFont>().bold(),
                     Item(r).data(Qt::ForegroundRole).value<QBrush>().color());
    return rows;
}

QStringList MainFormFixture::FileRows() {
    QStringList rows;
    const QAbstractItemModel* model = Files().model();
    for (int r = 0; r < model->rowCount(); ++r) {
        const QModelIndex index = model->index(r, 0);
        rows << Look(index.data().toString(), index.data(Qt::FontRole).value<QFont>().bold(),
                     index.data(Qt::ForegroundRole).value<QBrush>().color());
    }
    return rows;
}

void MainFormFixture::EndEdit(const QString& text, Qt::Key key, bool replace) {
    QLineEdit* editor = OpenEditor(URLs().viewport());
    ASSERT_NE(editor, nullptr);
    if (replace)
        editor->clear();
    editor->deselect();
    editor->end(false);
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, key);
    // The edit's end runs from the event loop, after the editor has closed.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace ornbrook::test
