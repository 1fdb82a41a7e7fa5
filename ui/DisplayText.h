#pragma once

#include <QString>
#include <string>

namespace ornbrook {

// Byte strings as the user interface shows them: UTF-8, or Latin-1 for bytes
// that are not valid UTF-8, so that no name is ever shown as replacement marks.
QString DisplayText(const std::string& bytes);

// What the user typed, as the bytes the program keeps (UTF-8).
std::string ToBytes(const QString& text);

} // namespace ornbrook
