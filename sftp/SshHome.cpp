#include "sftp/SshHome.h"

#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace ornbrook {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

std::string HomeDirectory() {
    std::string home = Variable("HOME");
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

std::string UserSshDirectory() {
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : (home == "/" ? "" : home) + "/.ssh";
}

std::string UserKnownHostsFile() {
    const std::string dir = UserSshDirectory();
    return dir.empty() ? std::string() : dir + "/known_hosts";
}

std::string LocalUserName() {
    for (const char* name : {"USER", "LOGNAME"}) {
        if (std::string value = Variable(name); !value.empty())
            return value;
    }
    // The name only: the home directory stays $HOME's.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name)
        return found->pw_name;
    return {};
}

} // namespace ornbrook
