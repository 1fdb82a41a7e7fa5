#pragma once

#include <string>

class QWidget;

namespace ornbrook {

// The help message of the main window's Help command and F1: its lines joined
// by CR LF.
std::string HelpText();
// Shows it in a message box with only OK, no icon, titled "Help"; returns when
// OK is pressed.
void ShowHelpMessage(QWidget* parent);
// Tells the user, once the window is up, that the watch list's files were
// damaged and what became of them; the box does not hold the window up.
void ShowDamagedDataMessage(QWidget* window, const std::string& notice);

} // namespace ornbrook
