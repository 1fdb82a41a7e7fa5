#pragma once

#include <QIcon>

namespace ornbrook {

// The name the desktop knows the program by: its desktop file, its icon in the
// icon theme and its AppStream component all carry it.
extern const char* const DesktopAppId;

// The program's icon, drawn from the SVG that is also installed for the desktop.
QIcon AppIcon();

// The icon with a mark for what needs the user's eye: an amber dot for changes,
// a red one for a failed URL; none when all is fine.
QIcon AppIconMarked(bool changes, bool failures);

} // namespace ornbrook
