#include "check/TreeWalk.h"

#include "check/DownloadTarget.h"
#include "diag/Debug_Modul.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <mutex>

namespace ornbrook {

namespace {

std::mutex limitsGuard;
TreeLimits limits;

// "could not list dir: 550 ..." becomes "could not list dir a/b: 550 ...".
std::string InFolder(const std::string& message, const std::string& relative) {
    if (relative.empty())
        return message;
    const std::size_t colon = message.find(':');
    if (colon == std::string::npos)
        return message + " " + relative;
    return message.substr(0, colon) + " " + relative + message.substr(colon);
}

// What a folder's listing says, in one number: a folder listed exactly as
// one of the folders above it is that folder, reached through a link.
std::size_t Fingerprint(const Listing& listing) {
    std::string facts;
    for (const ListedEntry& e : listing.Entries) {
        facts += e.Name;
        facts += '\0';
        facts += static_cast<char>(e.Type);
        facts += std::to_string(e.Size.value_or(~0ULL));
        facts += std::to_string(e.Modified.Year) + "-" + std::to_string(e.Modified.Month) + "-" +
                 std::to_string(e.Modified.Day) + " " + std::to_string(e.Modified.Hour) + ":" +
                 std::to_string(e.Modified.Minute) + ":" + std::to_string(e.Modified.Second);
        facts += '\n';
    }
    return std::hash<std::string>{}(facts);
}

// A server may list any number of bad names; the first ones are told.
constexpr std::size_t MaxRefusalsTold = 100;

FolderListing Failure(ErrorKind kind, std::string message) {
    return {Error{kind, std::move(message)}, std::nullopt};
}

} // namespace

TreeLimits CurrentTreeLimits() {
    const std::lock_guard lock(limitsGuard);
    return limits;
}

void SetTreeLimits(const TreeLimits& newLimits) {
    const std::lock_guard lock(limitsGuard);
    limits = newLimits;
}

FolderListing WalkTree(int depth, const FolderLister& list, std::chrono::milliseconds checkTime) {
    using Clock = std::chrono::steady_clock;
    const TreeLimits bounds = CurrentTreeLimits();
    auto deadline = Clock::now() + checkTime;
    const auto perFolder = checkTime / 20;

    FolderListing walked{Listing{}, std::nullopt};
    Listing& all = *walked.Listed;
    struct Folder {
        std::string Path;
        int Level;
        // The fingerprints of the folders above it, nearest last.
        std::vector<std::size_t> Above;
    };
    std::deque<Folder> waiting{{std::string(), 0, {}}};
    std::size_t folders = 1;
    std::size_t untold = 0;
    while (!waiting.empty()) {
        const Folder folder = std::move(waiting.front());
        waiting.pop_front();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            const auto allowed = std::chrono::duration_cast<std::chrono::seconds>(
                checkTime + perFolder * (folders - 1));
            return Failure(ErrorKind::TimedOut,
                           InFolder("could not list dir: the whole tree took longer than " +
                                        std::to_string(allowed.count()) + " s",
                                    folder.Path));
        }
        // The top has the whole check time, as a check of one folder has.
        FolderListing listed =
            list(folder.Path, folder.Path.empty() ? checkTime : std::min(left, checkTime));
        if (!listed.Listed) {
            Error why = std::move(listed.Listed).error();
            why.Message = InFolder(why.Message, folder.Path);
            return {std::move(why), std::move(listed.Certificate)};
        }
        Listing& one = *listed.Listed;
        if (folder.Path.empty()) {
            all.Source = one.Source;
            walked.Certificate = std::move(listed.Certificate);
        }
        // Links are not followed, but some servers show a link as the folder
        // it leads to (pyftpdlib's MLSD); a link back up is known by its
        // listing, and neither shown nor entered. Only where that says much:
        // times to the second (MLSD), and more than one entry, so that a
        // chain of folders made in one go ("mkdir -p a/a/a") is never taken
        // for a loop. The top alone has nothing above it to compare.
        std::vector<std::size_t> above = folder.Above;
        if (one.Source == ListingSource::Machine && one.Entries.size() > 1 && depth > 0) {
            const std::size_t print = Fingerprint(one);
            if (std::find(above.begin(), above.end(), print) != above.end()) {
                WriteLog("subfolder " + folder.Path +
                         " is listed exactly as a folder above it: taken for a link back up, "
                         "left out");
                continue;
            }
            above.push_back(print);
        }
        all.Cut = all.Cut || one.Cut;
        if (all.Entries.size() + one.Entries.size() > bounds.Entries)
            return Failure(ErrorKind::Protocol, "tree too large: more than " +
                                                    std::to_string(bounds.Entries) + " entries");
        for (ListedEntry& entry : one.Entries) {
            const char* fault = ListedNameFault(entry.Name);
            if (!folder.Path.empty())
                entry.Name = folder.Path + "/" + entry.Name;
            if (fault) {
                // Told, never shown: a name with "/" would pose as a path below.
                if (all.Refused.size() < MaxRefusalsTold)
                    all.Refused.push_back("refused \"" + entry.Name + "\": " + fault);
                else
                    ++untold;
                continue;
            }
            if (entry.Type == EntryType::Folder && folder.Level < depth) {
                if (++folders > bounds.Folders)
                    return Failure(ErrorKind::Protocol, "tree too large: more than " +
                                                            std::to_string(bounds.Folders) +
                                                            " folders");
                deadline += perFolder;
                waiting.push_back({entry.Name, folder.Level + 1, above});
            }
            all.Entries.push_back(std::move(entry));
        }
    }
    if (untold > 0)
        all.Refused.push_back("and " + std::to_string(untold) + " more names refused");
    return walked;
}

} // namespace ornbrook
