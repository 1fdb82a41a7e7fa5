#pragma once

#include <memory>

class QTreeView;

namespace ornbrook {

class FilesModel;
class MainInterface;

// Sets the file list's columns up: the name takes what the others leave and
// loses its middle when long; size, time and state are as wide as their
// widest text; the download column shows once a download was asked for. A
// pane too narrow for all of them hides the time, then the size, so names stay
// readable; they come back when the pane grows.
void SetUpFilesView(QTreeView* files, FilesModel* model);
// The sort is the user's last, kept for every URL and across restarts.
void ApplyStoredSort(QTreeView* files, const std::shared_ptr<MainInterface>& watchList);

} // namespace ornbrook
