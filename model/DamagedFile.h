#pragma once

#include <span>
#include <string>
#include <sys/types.h>

namespace ornbrook {

// Every file of the program directory that is found damaged (maindata.dat,
// urlsettings.json, ornbrook.sqlite, the trust files, the key file) is kept in
// one way before anything is written over it: beside it as
// "NAME.damaged-YYYYMMDD-HHMMSS" (local time; another word than "damaged" where
// the caller says why), owner-only. An earlier copy is never written over: a
// second one within the same second is "...-2", then "-3", and so on.

// Copies the first size bytes of fd, the open file fileName, to such a name,
// unless an earlier copy of this file holds exactly those bytes (the same damage
// found again, which was told already): then nothing is copied and the result
// is empty. Returns the copy's name. Throws FileError.
std::string KeepDamagedCopy(int fd, const std::string& fileName, off_t size);
// The same for the whole file of that name.
std::string KeepDamagedCopy(const std::string& fileName);

// Renames fileName, and each fileName + companion that exists, to such a name
// with why in place of "damaged" (the companions keep their endings), for a
// file that is then started afresh. Returns the new name. Throws FileError.
std::string SetAside(const std::string& fileName, const std::string& why,
                     std::span<const char* const> companions);

} // namespace ornbrook
