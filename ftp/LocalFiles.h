#pragma once

#include "base/Result.h"
#include "ftp/DataTransfer.h"

#include <fstream>
#include <string>
#include <string_view>

namespace ornbrook {

// A download into a local file, opened at the first byte so that a refused
// RETR leaves an existing file alone. A link or a file with a second name
// there is never written through: the download fails instead.
class FileSink final : public ByteSink {
public:
    explicit FileSink(std::string fileName) : fileName_(std::move(fileName)) {}
    ~FileSink();
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    bool Take(std::string_view bytes) override;
    // The transfer's outcome once the file is complete (an empty one is made
    // now), or with a partial file removed.
    Result<FtpReply> Finish(Result<FtpReply> r);

private:
    bool Open();

    std::string fileName_;
    int fd_ = -1;
    bool opened_ = false;
    // Opened, and a regular file of one name: this download's to write and remove.
    bool ours_ = false;
    bool failed_ = false;
};

// An upload from a local file.
class FileSource final : public ByteSource {
public:
    explicit FileSource(const std::string& fileName) : in_(fileName, std::ios::binary) {}
    bool IsOpen() const { return static_cast<bool>(in_); }
    long Fill(char* buffer, std::size_t size) override;

private:
    std::ifstream in_;
};

} // namespace ornbrook
