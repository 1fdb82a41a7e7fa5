#include "ftp/UrlFileListChecker.h"
namespace ornbrook {
void UrlFileListChecker::CheckURL(const std::string& theURL) { url_ = theURL; Error.Raise("could not connect"); }
}
