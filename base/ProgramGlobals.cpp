#include "base/ProgramGlobals.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ornbrook {

std::string ProgramDir;
std::string LineBreak = "\r\n";
std::string StartCounterFile;
bool DebugActive = false;
std::atomic<bool> Unloading = false;

std::string WithTrailingSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string ExecutableDirectory() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return WithTrailingSlash(std::filesystem::current_path().string());
    return WithTrailingSlash(exe.parent_path().string());
}

std::string InstalledMarkerFor(const std::string& exeDir) {
    return WithTrailingSlash(exeDir) + "../share/ornbrook/installed";
}

std::string UserDataDirectory(const char* xdgDataHome, const char* home) {
    if (xdgDataHome && xdgDataHome[0] == '/')
        return WithTrailingSlash(xdgDataHome) + "ornbrook/";
    std::string homeDir = home ? home : "";
    if (homeDir.empty()) {
        // No HOME at all (a bare cron or service environment): the password entry knows.
        if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
            homeDir = entry->pw_dir;
    }
    return WithTrailingSlash(homeDir) + ".local/share/ornbrook/";
}

bool MakeOwnerOnlyDirectory(const std::string& dir) {
    std::error_code error;
    if (std::filesystem::is_directory(dir, error))
        return true;
    const std::filesystem::path path = std::filesystem::path(dir).lexically_normal();
    const std::filesystem::path parent =
        path.has_filename() ? path.parent_path() : path.parent_path().parent_path();
    if (!parent.empty() && parent != path && !MakeOwnerOnlyDirectory(parent.string()))
        return false;
    // Another process may have made it meanwhile; that is as good.
    return ::mkdir(dir.c_str(), 0700) == 0 ||
           (errno == EEXIST && std::filesystem::is_directory(dir, error));
}

std::string ProgramDirectory() {
    const std::string exeDir = ExecutableDirectory();
    std::error_code error;
    if (!std::filesystem::exists(InstalledMarkerFor(exeDir), error))
        return exeDir;
    const std::string dir = UserDataDirectory(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    MakeOwnerOnlyDirectory(dir);
    return dir;
}

} // namespace ornbrook
