#pragma once

#include <QString>
#include <string>

namespace ornbrook {

// Byte strings as the user interface shows them: UTF-8, or Latin-1 for bytes
// that are not valid UTF-8, so that no name is ever shown as replacement marks.
QString DisplayText(const std::string& bytes);

// A name, URL or message from outside as the user interface shows it: decoded
// as DisplayText does, with control characters, the line and paragraph
// separators and backslashes escaped as the command line and the log print
// them ("\\n", "\\t", "\\x1b", "\\\\"), so that one entry is always one line.
QString ShownText(const std::string& bytes);

// What the user typed, as the bytes the program keeps (UTF-8).
std::string ToBytes(const QString& text);

} // namespace ornbrook
