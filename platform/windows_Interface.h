#pragma once

#include <string>

namespace ornbrook {

// Hands a document or an address to the desktop, which opens it with the
// program the user has associated with it. Neither call waits for that program
// or reports whether anything was opened.

// Opens a file name, path or address (a web address in the browser).
void OpenDocument(const std::string& target);
// Starts a new message to the address in the user's mail program.
void SendMail(const std::string& address);

} // namespace ornbrook
