#pragma once

#include <string>

namespace ornbrook {

class MainInterface;
class UrlFileList;
class UrlsModel;

// The URL selected when the window closed, selected again at the next start.
// It is kept in selected.dat by its name (model/UrlNames: the URL as the list
// shows it, password masked, and a tag), so that no password lies outside
// maindata.dat and URLs that differ only in their password stay apart; an
// empty line means none.
void StoreSelection(MainInterface& watchList, const UrlFileList* selected);
// The row of the stored URL, -1 when it has none (or none is stored). A line
// whose tag fits no URL (the key was lost, or a file of an earlier version
// without tags) gives the first URL of its masked form.
int StoredSelectionRow(MainInterface& watchList, const UrlsModel& rows);

} // namespace ornbrook
