#include "ftp/LocalFiles.h"

#include <cstdio>

namespace ornbrook {

bool FileSink::Take(std::string_view bytes) {
    if (!opened_) {
        out_.open(fileName_, std::ios::binary | std::ios::trunc);
        opened_ = true;
    }
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out_.good();
}

FtpResult FileSink::Finish(FtpResult r) {
    if (r.Ok && !opened_)
        out_.open(fileName_, std::ios::binary | std::ios::trunc);
    out_.close();
    if (r.Ok && out_.fail())
        r = FtpResult::Fail(0, "could not write the local file");
    if (!r.Ok && opened_)
        std::remove(fileName_.c_str());
    return r;
}

long FileSource::Fill(char* buffer, std::size_t size) {
    in_.read(buffer, static_cast<std::streamsize>(size));
    return in_.bad() ? -1 : static_cast<long>(in_.gcount());
}

} // namespace ornbrook
