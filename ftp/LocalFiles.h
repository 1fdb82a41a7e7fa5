#pragma once

#include "ftp/DataTransfer.h"
#include "ftp/FtpResult.h"

#include <fstream>
#include <string>
#include <string_view>

namespace ornbrook {

// A download into a local file, opened at the first byte so that a refused
// RETR leaves an existing file alone.
class FileSink final : public ByteSink {
public:
    explicit FileSink(std::string fileName) : fileName_(std::move(fileName)) {}
    bool Take(std::string_view bytes) override;
    // The transfer's outcome once the file is complete (an empty one is made
    // now), or with a partial file removed.
    FtpResult Finish(FtpResult r);

private:
    std::string fileName_;
    std::ofstream out_;
    bool opened_ = false;
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
