#include "ui/CheckRunNews.h"

#include "base/Url.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "ui/DisplayText.h"

#include <algorithm>
#include <utility>

namespace ornbrook {

namespace {

// A notice has room for a short message, not for a server's whole reply.
constexpr int MaxMessageLength = 80;

QString Counted(std::int32_t count, const char* one, const char* many) {
    return QString("%1 %2").arg(count).arg(count == 1 ? one : many);
}

QString ShortMessage(const std::string& message) {
    QString text = ShownText(message);
    if (text.size() > MaxMessageLength)
        text = text.left(MaxMessageLength - 1) + QChar(0x2026);
    return text;
}

} // namespace

CheckRunNews::CheckRunNews(const MainInterface& watchList) : watchList_(watchList) {
    for (std::int32_t i = 1; i <= watchList.GetURLsCount(); ++i) {
        const auto list = watchList.GetURL(i);
        failed_[list->URL()] = list->IsError();
    }
}

std::optional<RunNotice> CheckRunNews::CheckEnded(const UrlFileList& list, bool runEnded) {
    if (const auto it = failed_.find(list.URL()); it != failed_.end()) {
        const UrlFileList::CheckNews& news = list.LastCheckNews();
        Finding found;
        if (!news.StartingPoint) {
            found.NewFiles = news.NewFiles;
            found.ChangedFiles = news.ChangedFiles;
        }
        if (list.IsError() && !it->second)
            found.Error = list.GetErrorMsg();
        if (found.NewFiles > 0 || found.ChangedFiles > 0 || !found.Error.empty()) {
            Finding& finding = run_[list.URL()];
            finding.NewFiles += found.NewFiles;
            finding.ChangedFiles += found.ChangedFiles;
            if (!found.Error.empty())
                finding.Error = found.Error;
        }
        it->second = list.IsError();
    } else {
        failed_[list.URL()] = list.IsError();
    }
    if (!runEnded)
        return std::nullopt;
    // URLs no longer watched are forgotten: one added again later starts afresh.
    std::erase_if(failed_,
                  [this](const auto& entry) { return watchList_.GetURLIndex(entry.first) == 0; });
    if (run_.empty())
        return std::nullopt;
    RunNotice notice = Notice();
    run_.clear();
    return notice;
}

RunNotice CheckRunNews::Notice() const {
    // In watch-list order; a URL removed meanwhile comes last.
    std::vector<std::pair<std::int32_t, const std::pair<const std::string, Finding>*>> order;
    for (const auto& entry : run_) {
        const std::int32_t index = watchList_.GetURLIndex(entry.first);
        order.emplace_back(index == 0 ? watchList_.GetURLsCount() + 1 : index, &entry);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    RunNotice notice;
    std::int32_t newFiles = 0;
    std::int32_t changedFiles = 0;
    std::int32_t failed = 0;
    for (const auto& [index, entry] : order) {
        const auto& [url, finding] = *entry;
        newFiles += finding.NewFiles;
        changedFiles += finding.ChangedFiles;
        failed += finding.Error.empty() ? 0 : 1;
        const QString shown = ShownText(Url(url).Masked());
        QStringList counts;
        if (finding.NewFiles > 0)
            counts << QString("%1 new").arg(finding.NewFiles);
        if (finding.ChangedFiles > 0)
            counts << QString("%1 changed").arg(finding.ChangedFiles);
        QString line;
        if (!counts.isEmpty())
            line = counts.join(", ") + " in " + shown;
        if (!finding.Error.empty()) {
            const QString message = ShortMessage(finding.Error);
            line = line.isEmpty() ? shown + " failed: " + message : line + "; " + message;
        }
        notice.Lines << line;
        if (notice.URL.empty())
            notice.URL = url;
    }
    if (notice.Lines.size() > MaxLines) {
        const auto more = static_cast<std::int32_t>(notice.Lines.size()) - (MaxLines - 1);
        notice.Lines = notice.Lines.mid(0, MaxLines - 1);
        notice.Lines << "and " + Counted(more, "more URL", "more URLs");
    }
    QStringList summary;
    if (newFiles > 0)
        summary << Counted(newFiles, "new file", "new files");
    if (changedFiles > 0)
        summary << Counted(changedFiles, "changed file", "changed files");
    if (failed > 0)
        summary << Counted(failed, "URL failed", "URLs failed");
    notice.Summary = summary.join(", ");
    return notice;
}

} // namespace ornbrook
