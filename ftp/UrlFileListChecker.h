#pragma once
// TEMPORARY STUB (not committed): the ftp branch provides the real one.
#include "diag/Event.h"
#include <cstdint>
#include <string>
#include <vector>
namespace ornbrook {
class UrlFileListChecker final {
public:
    std::int32_t GetFilesCount() const { return static_cast<std::int32_t>(names_.size()); }
    std::string GetFile(std::int32_t i) const { return i == 0 ? "" : names_.at(static_cast<std::size_t>(i - 1)); }
    std::string GetURL() const { return url_; }
    void Clear() { names_.clear(); }
    void CheckURL(const std::string& theURL);
    void Cancel() {}
    void SetConfirmEmptyListing(bool) {}
    Event<> Ready;
    Event<const std::string&> Error;
private:
    std::string url_;
    std::vector<std::string> names_;
};
}
