#include "model/MainInterface.h"

#include "app/FileIO_Code.h"
#include "app/ProgramGlobals.h"
#include "model/DataFileFormat.h"
#include "model/UrlFileList.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

namespace {

[[noreturn]] void ThrowErrno(const std::string& fileName, const char* action) {
    throw FileError(fileName, std::string(action) + ": " + std::strerror(errno));
}

// Writes all bytes to a new file next to the target, flushes them to the disk
// and renames the file over the target, so that a crash or a full disk at any
// moment leaves either the old file or the new one, never a broken or missing one.
void ReplaceFileContents(const std::string& fileName, const std::string& bytes) {
    const std::string temp = fileName + "." + std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        ThrowErrno(temp, "cannot create");
    const auto fail = [&](const char* action) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        errno = error;
        ThrowErrno(temp, action);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail("cannot write");
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0)
        fail("cannot write");
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        ThrowErrno(temp, "cannot write");
    }
    if (::rename(temp.c_str(), fileName.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        ThrowErrno(fileName, "cannot replace");
    }
    // The rename itself reaches the disk with the directory.
    const auto slash = fileName.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : fileName.substr(0, slash + 1);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

std::string ReadWholeFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        ThrowErrno(fileName, "cannot open");
    std::string bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            ThrowErrno(fileName, "cannot read");
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

} // namespace

MainInterface::MainInterface() {
    LoadData();
}

MainInterface::~MainInterface() = default;

std::string MainInterface::DataFileName() {
    return ProgramDir + "maindata.dat";
}

std::int32_t MainInterface::AddURL(const std::string& theURL) {
    if (const std::int32_t i = GetURLIndex(theURL); i != 0)
        return i;
    auto list = std::make_shared<UrlFileList>();
    Lists.push_back(list);
    list->SetParent(this);
    list->SetURL(theURL);
    list->CheckFiles();
    // The check's handlers may have changed the list; find the new entry again.
    const std::int32_t n = GetURLIndex(theURL);
    SaveData();
    return n;
}

std::int32_t MainInterface::GetURLsCount() const {
    return static_cast<std::int32_t>(Lists.size() - 1);
}

std::shared_ptr<UrlFileList> MainInterface::GetURL(std::int32_t Index) const {
    if (Index < 0 || Index > GetURLsCount())
        throw std::out_of_range("MainInterface: no URL " + std::to_string(Index));
    return Lists[static_cast<std::size_t>(Index)];
}

std::int32_t MainInterface::GetURLIndex(const std::string& theURL) const {
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        if (Lists[i]->URL() == theURL)
            return static_cast<std::int32_t>(i);
    }
    return 0;
}

void MainInterface::RemoveURL(const std::string& theURL) {
    if (const std::int32_t i = GetURLIndex(theURL); i != 0) {
        Lists[static_cast<std::size_t>(i)]->Cancel();
        Lists.erase(Lists.begin() + i);
    }
    SaveData();
}

void MainInterface::Refresh() {
    for (std::size_t i = 1; i < Lists.size(); ++i)
        Lists[i]->RefreshList();
    RaiseEvent_Change();
}

void MainInterface::Cancel() {
    Clear();
}

void MainInterface::Clear() {
    for (std::size_t i = 1; i < Lists.size(); ++i)
        Lists[i]->Cancel();
    Lists.assign(1, nullptr);
}

void MainInterface::CheckFiles() {
    // By index and with a held reference: a handler may change the list meanwhile.
    for (std::size_t i = 1; i < Lists.size(); ++i) {
        const std::shared_ptr<UrlFileList> list = Lists[i];
        list->CheckFiles();
    }
}

void MainInterface::SaveData() {
    std::string bytes;
    bytes.reserve(lastSaveSize_);
    for (std::size_t i = 1; i < Lists.size(); ++i)
        Lists[i]->AppendFrameTo(bytes);
    lastSaveSize_ = bytes.size();
    ReplaceFileContents(DataFileName(), bytes);
}

void MainInterface::RaiseEvent_Change() {
    Change.Raise();
}

void MainInterface::RaiseEvent_CheckBegins(const UrlFileList& list) {
    CheckBegins.Raise(list);
}

void MainInterface::LoadData() {
    Clear();
    EnsureFileExists(DataFileName());
    const std::string file = ReadWholeFile(DataFileName());
    for (const std::string_view frame : SplitFrames(file)) {
        auto list = std::make_shared<UrlFileList>();
        Lists.push_back(list);
        list->SetParent(this);
        list->SetBySavedData(frame, true);
    }
}

} // namespace ornbrook
