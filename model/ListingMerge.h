#pragma once

#include "model/FileEntry.h"

#include <string>
#include <vector>

namespace ornbrook {

// Merges a fresh listing into the known entries (slot 0 unused, entries from 1):
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

} // namespace ornbrook
