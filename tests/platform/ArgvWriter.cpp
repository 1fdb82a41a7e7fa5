// A program for the runner's tests: writes to the file named by its first
// argument where its stdin comes from, the descriptors it holds beyond 0, 1
// and 2, and its other arguments, each ended by a NUL byte.
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    std::string report;
    char target[256];
    const ssize_t length = ::readlink("/proc/self/fd/0", target, sizeof target);
    report.append(target, length > 0 ? static_cast<std::size_t>(length) : 0);
    report += '\n';
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir)) {
            const int fd = std::atoi(entry->d_name);
            if (fd > 2 && fd != ::dirfd(dir))
                report += std::string(entry->d_name) + " ";
        }
        ::closedir(dir);
    }
    report += '\n';
    for (int i = 2; i < argc; ++i) {
        report += argv[i];
        report += '\0';
    }
    FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr)
        return 2;
    std::fwrite(report.data(), 1, report.size(), file);
    return std::fclose(file) == 0 ? 0 : 2;
}
