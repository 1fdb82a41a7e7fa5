#pragma once

#include "ftp/DirectoryListing.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace ornbrook {

// Lists one folder of a tree, given by its path relative to the top ("" for
// the top itself), within at most `limit`.
using FolderLister =
    std::function<FolderListing(const std::string& relative, std::chrono::milliseconds limit)>;

// Limits of one walk; a tree beyond them fails the check (nothing is gone).
struct TreeLimits {
    std::size_t Folders = 10'000;
    std::size_t Entries = 1'000'000;
};
// The limits new walks take; tests lower them.
TreeLimits CurrentTreeLimits();
void SetTreeLimits(const TreeLimits& limits);

// Lists a folder and its subfolders down to `depth` levels (0: the folder
// alone), one folder after another, breadth first. Entries below the top are
// named by their relative path ("2026-12-07/img_0001.jpg"), after their
// folder's entry. Only entries the listing says are folders are entered:
// links are not followed, and a listing without types (NLST) walks no deeper.
// A server that shows a link as the folder it leads to would make a loop of a
// link back up: a folder listed exactly as one above it (names and facts,
// MLSD's times to the second, more than one entry) is taken for such a link,
// and its entries are left out.
//
// A name that cannot stand for an entry of its folder (ListedNameFault) is
// left out and told in Listed.Refused (the first hundred).
//
// The walk is all or nothing: a folder that cannot be listed fails it with
// that folder's path in the message, and so does a tree beyond the limits
// ("tree too large: more than N folders"). A cut listing anywhere makes the
// whole listing cut.
//
// Time: the walk may take checkTime, plus a twentieth of it for each
// subfolder found (120 s and 6 s per folder by default), and no single
// folder's listing more than checkTime: a deep tree gets the time it needs,
// a server that trickles still ends.
FolderListing WalkTree(int depth, const FolderLister& list, std::chrono::milliseconds checkTime);

} // namespace ornbrook
