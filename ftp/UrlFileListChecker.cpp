#include "ftp/UrlFileListChecker.h"

#include "ftp/CheckRunner.h"

namespace ornbrook {
void UrlFileListChecker::CheckURL(const std::string& theURL) {
    url_ = theURL;
    RunBlocking([] {});
    Error.Raise("could not connect");
}
} // namespace ornbrook
