#include "model/DataFileLock.h"

#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    return true;
}

void DataFileLock::Release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace ornbrook
