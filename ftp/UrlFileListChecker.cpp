#include "ftp/UrlFileListChecker.h"

#include "ftp/CheckRunner.h"
#include "ftp/DirectoryListing.h"

#include <stdexcept>

namespace ornbrook {

UrlFileListChecker::UrlFileListChecker() : names_(1) {}

UrlFileListChecker::~UrlFileListChecker() = default;

std::int32_t UrlFileListChecker::GetFilesCount() const {
    return static_cast<std::int32_t>(names_.size() - 1);
}

std::string UrlFileListChecker::GetFile(std::int32_t Index) const {
    if (Index < 0 || static_cast<std::size_t>(Index) >= names_.size())
        throw std::out_of_range("UrlFileListChecker::GetFile: index " + std::to_string(Index));
    return names_[static_cast<std::size_t>(Index)];
}

void UrlFileListChecker::Clear() {
    names_.assign(1, std::string());
}

void UrlFileListChecker::Cancel() {}

void UrlFileListChecker::CheckURL(const std::string& theURL) {
    url_ = theURL;
    parsedUrl_ = ParseURL(url_);
    Clear();
    listingCut_ = false;

    // The blocking part may run on a worker thread: it touches only its locals.
    ListingOutcome outcome;
    const bool confirmEmpty = confirmEmptyListing_;
    RunBlocking([&outcome, &theURL, confirmEmpty] {
        outcome = ListDirectory(theURL, confirmEmpty, nullptr);
    });
    if (outcome.Ok) {
        names_.reserve(outcome.Names.size() + 1);
        for (auto& name : outcome.Names)
            names_.push_back(std::move(name));
        listingCut_ = outcome.Cut;
    }

    // A handler may cancel this checker and drop its owner's reference: nothing
    // of this object is touched after raising.
    if (outcome.Ok)
        Ready.Raise();
    else
        Error.Raise(outcome.Message);
}

} // namespace ornbrook
