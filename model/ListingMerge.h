#pragma once

#include "ftp/ListedEntry.h"
#include "model/FileEntry.h"

#include <functional>
#include <string>
#include <vector>

namespace ornbrook {

// Entries whose kept facts or marks change are flagged Unstored.
//
// Merges a fresh listing of names into the known entries (slot 0 unused, entries from 1):
// every listed name is matched against one not yet matched known entry of that
// name, the first in a work list from which matched pairs are removed by moving
// the last pair into their place; unmatched listed names are appended as new in
// listing order; known entries left unmatched become gone. Matched entries keep
// their position and state, but for a gone one: listed again, it was put back,
// and it becomes new.
//
// The result is exactly that of scanning the work list for every listed name,
// but each step costs O(log n) instead of O(n).
//
// A partial listing (one the server cut short) marks no known entry gone, since
// its absence from part of the directory says nothing. Returns whether any
// entry changed.
enum class ListingExtent { Complete, Partial };
bool MergeListing(std::vector<FileEntry>& entries, const std::vector<std::string>& listed,
                  ListingExtent extent = ListingExtent::Complete);

// What a merge with facts needs to know beyond the listing.
struct MergeRules {
    // Now, in seconds since the epoch.
    std::int64_t Now = 0;
    // How long a new or changed file's size and time must hold still before it
    // is reported; 0 reports at once.
    std::int64_t SettleSeconds = 0;
    // The first check of a URL, or the first after it was edited: what it finds
    // is taken as it is, new and not arriving.
    bool StartingPoint = false;
    // Entries that came into view by a change of the URL's settings: they were
    // there before, so they are old (never new, arriving or reported).
    std::function<bool(const FileEntry&)> ComesIntoView;
};

// The merge of a listing with facts (consumed): names are matched as above,
// and then
// - a known file whose size or time differs from what was last seen (facts of
//   the same listing command) is changed, or arriving first when uploads are
//   waited for; folders and links never are;
// - an arriving file is reported (new, or changed) once a later listing shows it
//   with the same facts at least SettleSeconds after they were first seen; it
//   waits on from the start when they moved;
// - a listed name not known is new, or arriving (not settled) when it is a file
//   with facts and uploads are waited for, unless it is a starting point;
// - a known entry not listed is gone, remembering the mark it had; one that
//   never settled is dropped;
// - a gone entry listed again gets back the mark it had when its facts are the
//   ones last seen, else it is changed (new without facts).
// A cut listing marks nothing gone.
struct MergeNews {
    // Anything kept changed (entries, marks or facts); what the design's data
    // file holds (names and their states) changed.
    bool Changed = false;
    bool DataChanged = false;
    // Names of files that arrived but never settled and are not listed any
    // more: dropped without a trace.
    std::vector<std::string> Dropped;
    // And where they were before the merge (entry indexes).
    std::vector<std::int32_t> DroppedAt;
    // Where the known entries whose facts or marks changed were before the
    // merge (those dropped not among them).
    std::vector<std::int32_t> ChangedAt;
    // Files reported by this merge: newly new, newly changed.
    std::int32_t NewFiles = 0;
    std::int32_t ChangedFiles = 0;
    // Names taken as old because they came into view (see ComesIntoView).
    std::int32_t CameIntoView = 0;
    // Their names, for what acts on reported files (downloads, programs).
    std::vector<std::string> Reported;
    // Names of the files this merge marked gone.
    std::vector<std::string> Gone;

    void Report(const FileEntry& entry, bool changed) {
        ++(changed ? ChangedFiles : NewFiles);
        Reported.push_back(entry.Name);
    }
};
MergeNews MergeListing(std::vector<FileEntry>& entries, Listing&& listing, const MergeRules& rules);

} // namespace ornbrook
