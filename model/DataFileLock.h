#pragma once

#include <optional>
#include <string>

namespace ornbrook {

// The right to write the program directory's data files: an exclusive lock on
// a lock file beside them, held by one process at a time, the window for its
// whole life or a command-line run from its load to its last save. The system
// releases it with the process, so a crashed run leaves no lock behind. (The
// data file itself cannot carry the lock: every save puts a new file in its
// place.)
class DataFileLock final {
public:
    DataFileLock() = default;
    ~DataFileLock();
    DataFileLock(const DataFileLock&) = delete;
    DataFileLock& operator=(const DataFileLock&) = delete;

    // ProgramDir + "maindata.lock", created owner-only.
    static std::string FileName();
    // Tries once without waiting; true when this object holds the lock. A lock
    // file that cannot be opened throws FileError.
    bool TryAcquire();
    void Release();
    bool Held() const { return fd_ >= 0; }

    // Who holds the lock for good (the window, the service), as it wrote
    // itself into the lock file: a start that must not wait for it names it.
    // A holder that has not written itself (a command-line run) reads as none;
    // taking the lock empties the file, so a crashed holder is never named.
    struct Holder {
        std::string Kind;
        long Pid = 0;
    };
    void WriteHolder(const std::string& kind);
    static std::optional<Holder> ReadHolder();

private:
    int fd_ = -1;
};

} // namespace ornbrook
