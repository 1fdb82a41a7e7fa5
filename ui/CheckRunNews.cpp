#include "ui/CheckRunNews.h"

#include "ftp/FtpModule.h"
#include "model/FileEntry.h"
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
    QString text = DisplayText(message).simplified();
    if (text.size() > MaxMessageLength)
        text = text.left(MaxMessageLength - 1) + QChar(0x2026);
    return text;
}

} // namespace

CheckRunNews::CheckRunNews(const MainInterface& watchList) : watchList_(watchList) {
    for (std::int32_t i = 1; i <= watchList.GetURLsCount(); ++i) {
        const auto list = watchList.GetURL(i);
        known_[list->URL()] = Memory{NewNamesOf(*list), list->IsError()};
    }
}

CheckRunNews::NameCounts CheckRunNews::NewNamesOf(const UrlFileList& list) {
    NameCounts names;
    for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i) {
        if (list.GetFileState(i) == FileStateNew)
            ++names[list.GetFileName(i)];
    }
    return names;
}

void CheckRunNews::CheckBegins(const UrlFileList& list) {
    // What is new before the check is not news; the user may also have
    // acknowledged changes since the last check ended.
    if (const auto it = known_.find(list.URL()); it != known_.end())
        it->second.NewNames = NewNamesOf(list);
}

std::optional<RunNotice> CheckRunNews::CheckEnded(const UrlFileList& list, bool runEnded) {
    NameCounts now = NewNamesOf(list);
    if (const auto it = known_.find(list.URL()); it != known_.end()) {
        Memory& before = it->second;
        std::int32_t fresh = 0;
        for (const auto& [name, count] : now) {
            const auto was = before.NewNames.find(name);
            fresh += std::max(0, count - (was == before.NewNames.end() ? 0 : was->second));
        }
        // What came into view by a change of the URL's settings is new without
        // being news.
        fresh = std::max(0, fresh - list.LastCheckNews().CameIntoView);
        const bool failedNow = list.IsError() && !before.Failed;
        if (fresh > 0 || failedNow) {
            Finding& finding = run_[list.URL()];
            finding.NewNames += fresh;
            if (failedNow)
                finding.Error = list.GetErrorMsg();
        }
        before = Memory{std::move(now), list.IsError()};
    } else {
        known_[list.URL()] = Memory{std::move(now), list.IsError()};
    }
    if (!runEnded)
        return std::nullopt;
    // URLs no longer watched are forgotten: one added again later starts afresh.
    std::erase_if(known_,
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
    std::int32_t newNames = 0;
    std::int32_t failed = 0;
    for (const auto& [index, entry] : order) {
        const auto& [url, finding] = *entry;
        newNames += finding.NewNames;
        failed += finding.Error.empty() ? 0 : 1;
        const QString shown = DisplayText(MaskedURL(url));
        QString line;
        if (finding.NewNames > 0)
            line = QString("%1 new in %2").arg(finding.NewNames).arg(shown);
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
    if (newNames > 0)
        summary << Counted(newNames, "new file", "new files");
    if (failed > 0)
        summary << Counted(failed, "URL failed", "URLs failed");
    notice.Summary = summary.join(", ");
    return notice;
}

} // namespace ornbrook
