#include "model/FileActions.h"

#include "model/DownloadQueue.h"
#include "model/UrlFileList.h"
#include "model/UrlSettings.h"

#include <string_view>
#include <unordered_set>

namespace ornbrook {

FileActions::FileActions(DownloadQueue& downloads, SettingsOf settingsOf, ProgramLimits limits)
    : downloads_(downloads), settingsOf_(std::move(settingsOf)), runner_(limits) {
    news_ = downloads_.News.Connect([this](const DownloadNews& news) { Heard(news); });
}

FileActions::~FileActions() {
    runner_.Close();
}

void FileActions::CheckEnded(const UrlFileList& list) {
    const UrlSettings* settings = settingsOf_(list.URL());
    const auto& reported = list.LastCheckNews().Reported;
    if (!settings || reported.empty() || (settings->Download.empty() && settings->Run.Empty()))
        return;
    // A whole upload may be reported at once: look names up, do not scan.
    const std::unordered_set<std::string_view> names(reported.begin(), reported.end());
    std::vector<FileEntry> files;
    for (std::int32_t i = 1; i <= list.GetFilesCount(); ++i) {
        const FileEntry& entry = list.GetEntry(i);
        const bool file =
            entry.Facts.Type == EntryType::File || entry.Facts.Type == EntryType::Unknown;
        if (file && names.count(entry.Name) > 0)
            files.push_back(entry);
    }
    if (!settings->Download.empty()) {
        downloads_.Download(list.ParsedURL(), files, settings->Download);
        return; // programs run as each download is saved
    }
    for (const FileEntry& file : files)
        Run(list.ParsedURL(), settings->Run, file.Name, {});
}

void FileActions::Heard(const DownloadNews& news) {
    if (news.What != DownloadNews::Stage::Saved)
        return;
    if (const UrlSettings* settings = settingsOf_(news.Url); settings && !settings->Run.Empty())
        Run(Url(news.Url), settings->Run, news.Name, news.SavedAs);
}

void FileActions::Run(const Url& watched, const ProgramCommand& program, const std::string& name,
                      const std::string& path) {
    if (program.Empty())
        return; // refused where it was set
    const std::string& url = watched.Text();
    const std::string& shown = watched.Masked();
    auto arguments = program.Arguments({path, watched.FileUrl(name), name});
    runner_.Start(url, std::move(arguments), [this, url, shown, name](ProgramOutcome outcome) {
        if (outcome.How == ProgramOutcome::Ending::NotStarted) {
            // Said once, until a program of the URL starts again.
            if (problems_[url] != outcome.Reason)
                WriteLog(shown + ": " + outcome.Reason);
            problems_[url] = outcome.Reason;
        } else {
            problems_.erase(url);
            std::string line = shown + ": program for " + name + " " + outcome.Describe();
            for (const std::string& said : outcome.Lines)
                line += "\n  " + said;
            WriteLog(line);
        }
        Ended.Raise(ProgramNews{url, name, std::move(outcome)});
    });
}

std::string FileActions::ProgramProblem(const std::string& url) const {
    const auto it = problems_.find(url);
    return it == problems_.end() ? std::string() : it->second;
}

} // namespace ornbrook
