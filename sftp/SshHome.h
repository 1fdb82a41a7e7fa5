#pragma once

#include <string>

namespace ornbrook {

// Where the user's SSH files are: "~" is $HOME, as everywhere in the program,
// never the password database's home directory.

// $HOME without a trailing "/"; empty when it is not set.
std::string HomeDirectory();
// $HOME/.ssh; empty without a home.
std::string UserSshDirectory();
// $HOME/.ssh/known_hosts; empty without a home.
std::string UserKnownHostsFile();
// The name `ssh` would log in with when none is given: $USER, else $LOGNAME,
// else the password database's name for our user id; empty if none of these.
std::string LocalUserName();

} // namespace ornbrook
