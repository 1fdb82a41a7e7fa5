#include "check/CheckJob.h"

#include "check/TreeWalk.h"
#include "ftp/FtpSettings.h"

#include <ctime>

namespace ornbrook {

namespace {

EntryType TypeOf(RemoteType type) {
    switch (type) {
    case RemoteType::File:
        return EntryType::File;
    case RemoteType::Folder:
        return EntryType::Folder;
    case RemoteType::Link:
        return EntryType::Link;
    default:
        return EntryType::Other;
    }
}

// SFTP gives seconds since 1970 in UTC: a time to the second, as MLSD's.
ListedTime TimeOf(std::int64_t seconds) {
    ListedTime t;
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (!::gmtime_r(&when, &utc))
        return t;
    t.Precision = ListedTime::Resolution::Second;
    t.Year = static_cast<std::int16_t>(utc.tm_year + 1900);
    t.Month = static_cast<std::uint8_t>(utc.tm_mon + 1);
    t.Day = static_cast<std::uint8_t>(utc.tm_mday);
    t.Hour = static_cast<std::uint8_t>(utc.tm_hour);
    t.Minute = static_cast<std::uint8_t>(utc.tm_min);
    t.Second = static_cast<std::uint8_t>(utc.tm_sec);
    t.Utc = true;
    return t;
}

} // namespace

std::string KeptLoginKey(const Url& url) {
    // The key a kept SFTP login holds (the protocol is not part of it).
    return url.IsSftp() ? SftpLoginKey(SftpTargetOf(url)) : url.LoginKey();
}

CheckJob::CheckJob(Url url, bool confirmEmpty, int depth, DataMode mode)
    : url_(std::move(url)), confirmEmpty_(confirmEmpty), depth_(depth), mode_(mode),
      server_(url_.ServerKey()), login_(KeptLoginKey(url_)) {
    if (url_.IsSftp())
        sftpTarget_ = SftpTargetOf(url_);
}

CheckOutcome CheckJob::Run(const StopSignal* stop, KeptLogins& kept) const {
    if (url_.IsSftp())
        return RunSftp(stop, kept);
    kept.Sftp.Drop();
    // Every folder over the one login, which each listing hands to the next.
    // An empty subfolder is confirmed as the top is: its files would go.
    const auto listFolder = [&](const std::string& relative, std::chrono::milliseconds limit) {
        return ListDirectory(url_, confirmEmpty_, stop, &kept.Ftp, relative, limit, mode_);
    };
    return {WalkTree(depth_, listFolder, CurrentFtpTimeouts().Check), std::nullopt};
}

CheckOutcome CheckJob::RunSftp(const StopSignal* stop, KeptLogins& kept) const {
    kept.Ftp.Drop();
    std::optional<HostKeyFacts> hostKey;
    const auto listFolder = [&](const std::string& relative, std::chrono::milliseconds limit) {
        SftpFolder listed =
            ListSftpDirectory(sftpTarget_, url_.PathBelow(relative), limit, stop, &kept.Sftp);
        for (const std::string& note : listed.Notes)
            WriteLog(url_.Masked() + ": " + note);
        if (relative.empty())
            hostKey = std::move(listed.HostKey);
        if (!listed.Entries)
            return FolderListing{std::move(listed.Entries).error(), std::nullopt};
        // An SFTP listing comes with the attributes of every entry, as MLSD's.
        Listing one;
        one.Source = ListingSource::Machine;
        one.Entries.reserve(listed.Entries->size());
        for (RemoteEntry& remote : *listed.Entries) {
            ListedEntry& entry = one.Entries.emplace_back();
            entry.Name = std::move(remote.Name);
            entry.Type = TypeOf(remote.Type);
            entry.Size = remote.Size;
            if (remote.Modified)
                entry.Modified = TimeOf(*remote.Modified);
        }
        return FolderListing{std::move(one), std::nullopt};
    };
    FolderListing walked = WalkTree(depth_, listFolder, CurrentFtpTimeouts().Check);
    return {std::move(walked), std::move(hostKey)};
}

} // namespace ornbrook
