#include "ui/UrlSettingsForm.h"

#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <tuple>

namespace ornbrook {

namespace {

QString Lines(const std::vector<std::string>& globs) {
    QStringList lines;
    for (const std::string& glob : globs)
        lines << QString::fromStdString(glob);
    return lines.join('\n');
}

QPlainTextEdit* GlobField(const QString& name, const std::vector<std::string>& globs) {
    auto* field = new QPlainTextEdit(Lines(globs));
    field->setObjectName(name);
    field->setTabChangesFocus(true);
    field->setFixedHeight(field->fontMetrics().lineSpacing() * 4);
    return field;
}

} // namespace

UrlSettingsForm::UrlSettingsForm(QWidget* owner, const QString& url, const UrlSettings& settings)
    : QDialog(owner), taken_(settings) {
    setObjectName("UrlSettingsForm");
    setWindowTitle("Settings of " + url);
    setAccessibleName("Settings of " + url);

    depth_ = new QSpinBox;
    depth_->setObjectName("Depth");
    depth_->setRange(0, MaxDepth);
    depth_->setValue(settings.Depth);
    depth_->setSpecialValueText("this folder only");
    depth_->setToolTip("How many levels of subfolders are watched as well");
    include_ = GlobField("Include", settings.Include);
    include_->setToolTip("Only files that match one of these count (all, when none is given); "
                         "folders are always watched. One glob a line");
    exclude_ = GlobField("Exclude", settings.Exclude);
    exclude_->setToolTip("Files and folders that match one of these never count, nor what is "
                         "below such a folder. One glob a line");
    noCase_ = new QCheckBox("Letters match in either &case");
    noCase_->setObjectName("NoCase");
    noCase_->setChecked(settings.NoCase);
    interval_ = new QSpinBox;
    interval_->setObjectName("Interval");
    interval_->setRange(0, 7 * 24 * 3600);
    interval_->setSuffix(" s");
    interval_->setSpecialValueText("the global interval");
    interval_->setValue(static_cast<int>(settings.Interval));
    paused_ = new QCheckBox("&Paused: checked only when asked");
    paused_->setObjectName("Paused");
    paused_->setChecked(settings.Paused);
    download_ = new QLineEdit(QString::fromStdString(settings.Download));
    download_->setObjectName("Download");
    download_->setPlaceholderText("not downloaded");
    download_->setToolTip("Every file reported from now on is downloaded into this folder "
                          "(once it has finished arriving); subfolders as relative paths");
    auto* browse = new QPushButton("&Browse...");
    browse->setObjectName("BrowseDownload");
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString folder =
            QFileDialog::getExistingDirectory(this, "Download to", download_->text());
        if (!folder.isEmpty())
            download_->setText(folder);
    });
    auto* downloadRow = new QHBoxLayout;
    downloadRow->addWidget(download_, 1);
    downloadRow->addWidget(browse);
    run_ = new QLineEdit(QString::fromStdString(settings.Run.Text()));
    run_->setObjectName("Run");
    run_->setPlaceholderText("no program");
    run_->setToolTip("A program run for every file reported, after its download: PROGRAM ARG..., "
                     "quoted as in a shell (no shell runs); {path} is the downloaded file, {url} "
                     "its URL, {name} its name below the URL");
    // The rules where they are needed, not only in tooltips.
    auto* rules = new QLabel(
        "Globs, one a line: * and ? within a name, [a-z] one of a set, ** across folders. "
        "A glob without / matches the last part of a path at any depth (*.tmp); one with / "
        "the whole path below the URL (*/*.jpg). Include judges files only; exclude hides "
        "files and folders, and everything below an excluded folder.\n"
        "Run: {path} is the downloaded file, {url} the file's URL (password masked), {name} "
        "its path below the URL.");
    rules->setObjectName("Rules");
    rules->setWordWrap(true);
    problem_ = new QLabel;
    problem_->setObjectName("Problem");
    problem_->setWordWrap(true);
    problem_->setStyleSheet("color: #B00000");
    problem_->hide();

    auto* form = new QFormLayout;
    form->addRow("&Subfolders:", depth_);
    form->addRow("&Include:", include_);
    form->addRow("E&xclude:", exclude_);
    form->addRow(QString(), noCase_);
    form->addRow("Check &every:", interval_);
    form->addRow(QString(), paused_);
    auto* downloadLabel = new QLabel("&Download to:");
    downloadLabel->setBuddy(download_);
    form->addRow(downloadLabel, downloadRow);
    form->addRow("&Run:", run_);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* layout = new QVBoxLayout(this);
    // A refusal that appears makes the dialog taller, never the fields smaller.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    layout->addLayout(form);
    layout->addWidget(rules);
    layout->addWidget(problem_);
    layout->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
        if (const auto judged = Judge()) {
            taken_ = *judged;
            accept();
        }
    });
}

std::optional<UrlSettings> UrlSettingsForm::Judge() {
    // The fields become the command line's assignments: one set of rules. They
    // are taken field by field, so that a refusal names the field as the
    // dialog labels it (and the line of a glob).
    struct Field {
        QString Label;
        std::vector<std::string> Assignments;
    };
    std::vector<Field> fields = {
        {"Subfolders", {"depth=" + std::to_string(depth_->value())}},
        {"Letters match in either case",
         {"nocase=" + std::string(noCase_->isChecked() ? "1" : "0")}},
        {"Check every", {"interval=" + std::to_string(interval_->value())}},
        {"Paused", {"paused=" + std::string(paused_->isChecked() ? "1" : "0")}}};
    UrlSettings settings;
    for (const auto& [key, label, field] :
         {std::tuple{"include=", "Include", include_}, {"exclude=", "Exclude", exclude_}}) {
        Field globs{label, {key}};
        int line = 0;
        for (const QString& text : field->toPlainText().split('\n')) {
            ++line;
            if (text.trimmed().isEmpty())
                continue;
            const std::string assignment = key + text.toStdString();
            UrlSettings alone;
            if (const auto taken = ApplyAssignments(alone, {assignment}); !taken)
                return Refuse(QString("%1, line %2: ").arg(label).arg(line) +
                              QString::fromStdString(taken.error().Message));
            globs.Assignments.push_back(assignment);
        }
        fields.push_back(std::move(globs));
    }
    // The folder before the program, which may need it.
    fields.push_back({"Download to", {"download=" + download_->text().trimmed().toStdString()}});
    fields.push_back({"Run", {"run=" + run_->text().trimmed().toStdString()}});
    for (const Field& field : fields) {
        if (const auto taken = ApplyAssignments(settings, field.Assignments); !taken)
            return Refuse(field.Label + ": " + QString::fromStdString(taken.error().Message));
    }
    problem_->hide();
    return settings;
}

std::optional<UrlSettings> UrlSettingsForm::Refuse(const QString& why) {
    problem_->setText(why);
    problem_->show();
    return std::nullopt;
}

bool UrlSettingsForm::Edit(QWidget* owner, MainInterface& watchList, const UrlFileList& list) {
    // A copy: the list may go while the dialog is open.
    const std::string url = list.URL(); // NOLINT(performance-unnecessary-copy-initialization)
    UrlSettingsForm form(owner, ShownText(list.ParsedURL().Masked()), list.Settings());
    if (form.exec() != QDialog::Accepted)
        return false;
    // The dialog may have outlived its URL (a command from the command line).
    const std::int32_t index = watchList.GetURLIndex(url);
    if (index != 0)
        watchList.SetURLSettings(index, form.Taken());
    return index != 0;
}

} // namespace ornbrook
