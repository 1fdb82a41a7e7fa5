#include "ui/TrayState.h"

#include "model/FileEntry.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"

#include <QStringList>

namespace ornbrook {

namespace {

QString Counted(std::int32_t count, const char* one, const char* many) {
    return QString("%1 %2").arg(count).arg(count == 1 ? one : many);
}

} // namespace

TrayState TrayState::Of(const MainInterface& watchList) {
    TrayState state;
    state.URLs = watchList.GetURLsCount();
    for (std::int32_t i = 1; i <= state.URLs; ++i) {
        const auto list = watchList.GetURL(i);
        // Files still arriving have not been reported: they change nothing here.
        const std::int32_t added = list->CountMark(FileMark::New);
        const std::int32_t changed = list->CountMark(FileMark::Changed);
        const std::int32_t gone = list->CountMark(FileMark::Gone);
        state.ChangedURLs += added + changed + gone > 0 ? 1 : 0;
        state.NewFiles += added;
        state.ChangedFiles += changed;
        state.GoneFiles += gone;
        state.FailedURLs += list->IsError() ? 1 : 0;
    }
    state.Progress = watchList.CheckProgressText();
    return state;
}

TrayState::Kind TrayState::IconKind() const {
    if (ChangedURLs > 0)
        return FailedURLs > 0 ? Kind::ChangesAndFailures : Kind::Changes;
    return FailedURLs > 0 ? Kind::Failures : Kind::AllFine;
}

QString TrayState::ToolTip() const {
    QStringList lines{"Ornbrook"};
    if (URLs == 0)
        lines << "no URLs watched";
    if (ChangedURLs > 0) {
        QStringList counts;
        if (NewFiles > 0)
            counts << QString("%1 new").arg(NewFiles);
        if (ChangedFiles > 0)
            counts << QString("%1 changed").arg(ChangedFiles);
        if (GoneFiles > 0)
            counts << QString("%1 gone").arg(GoneFiles);
        lines << Counted(ChangedURLs, "URL", "URLs") + " with changes: " + counts.join(", ");
    }
    if (FailedURLs > 0)
        lines << Counted(FailedURLs, "URL", "URLs") + " failed";
    if (URLs > 0 && ChangedURLs == 0 && FailedURLs == 0)
        lines << Counted(URLs, "URL", "URLs") + ", no changes";
    if (!Progress.empty())
        lines << QString::fromStdString(Progress);
    return lines.join('\n');
}

QString TrayState::WindowTitle() const {
    return ChangedURLs > 0 ? QString("Ornbrook (%1)").arg(ChangedURLs) : QString("Ornbrook");
}

} // namespace ornbrook
