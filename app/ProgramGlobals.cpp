#include "app/ProgramGlobals.h"

#include <filesystem>
#include <system_error>

namespace ornbrook {

std::string ProgramDir;
std::string LineBreak = "\r\n";
std::string StartCounterFile;
bool DebugActive = false;
bool Unloading = false;

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

} // namespace ornbrook
