#pragma once

#include <string>

namespace ornbrook {

class Preferences;
class UrlFileList;
class UrlsModel;

// The URL selected when the window closed, selected again at the next start.
// It is kept in selected.dat as the list shows it, with the password masked, so
// that no password lies outside maindata.dat; an empty line means none. URLs
// that differ only in their password give the first of them.
void StoreSelection(Preferences& preferences, const UrlFileList* selected);
// The row of the stored URL, -1 when it has none (or none is stored).
int StoredSelectionRow(const Preferences& preferences, const UrlsModel& rows);

} // namespace ornbrook
