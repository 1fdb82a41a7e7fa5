#include "model/DataFileLock.h"

#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace ornbrook {

DataFileLock::~DataFileLock() {
    Release();
}

std::string DataFileLock::FileName() {
    return ProgramDir + "maindata.lock";
}

bool DataFileLock::TryAcquire() {
    if (Held())
        return true;
    const std::string name = FileName();
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        throw FileError(name, std::string("cannot open: ") + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return false;
        throw FileError(name, std::string("cannot lock: ") + std::strerror(error));
    }
    fd_ = fd;
    // What a holder before us wrote is no longer true.
    [[maybe_unused]] const int emptied = ::ftruncate(fd_, 0);
    return true;
}

void DataFileLock::WriteHolder(const std::string& kind) {
    if (!Held())
        return;
    const std::string line = kind + " " + std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const int emptied = ::ftruncate(fd_, 0);
    [[maybe_unused]] const auto written = ::pwrite(fd_, line.data(), line.size(), 0);
}

std::optional<DataFileLock::Holder> DataFileLock::ReadHolder() {
    std::ifstream file(FileName());
    Holder holder;
    if (!(file >> holder.Kind >> holder.Pid) || holder.Pid <= 0)
        return std::nullopt;
    return holder;
}

void DataFileLock::Release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace ornbrook
