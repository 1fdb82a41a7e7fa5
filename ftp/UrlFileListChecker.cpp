#include "ftp/UrlFileListChecker.h"

#include "ftp/CheckPool.h"

#include <stdexcept>

namespace ornbrook {

UrlFileListChecker::UrlFileListChecker(std::weak_ptr<CheckPool> pool)
    : pool_(std::move(pool)), names_(1) {}

UrlFileListChecker::~UrlFileListChecker() {
    Cancel();
}

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

void UrlFileListChecker::Cancel() {
    if (const auto pool = pool_.lock(); pool && job_ != 0)
        pool->Cancel(job_);
    job_ = 0;
}

void UrlFileListChecker::CheckURL(const std::string& theURL) {
    Cancel();
    url_ = theURL;
    Clear();
    listingCut_ = false;
    rejected_.reset();
    const auto pool = pool_.lock();
    if (!pool) {
        Started.Raise();
        Finish(ListDirectory(url_, confirmEmptyListing_, nullptr));
        return;
    }
    CheckPool::Callbacks callbacks;
    callbacks.Started = [this] { Started.Raise(); };
    callbacks.Finished = [this](ListingOutcome outcome) {
        job_ = 0;
        Finish(std::move(outcome));
    };
    // The pool drops the callbacks when this checker cancels, which it does
    // before it goes.
    job_ = pool->Start(url_, confirmEmptyListing_, std::move(callbacks));
}

void UrlFileListChecker::Finish(ListingOutcome outcome) {
    if (outcome.Ok) {
        names_.reserve(outcome.Listed.Entries.size() + 1);
        for (auto& entry : outcome.Listed.Entries)
            names_.push_back(std::move(entry.Name));
        listingCut_ = outcome.Listed.Cut;
    }
    rejected_ = std::move(outcome.Certificate);
    // A handler may cancel this checker and drop its owner's reference: nothing
    // of this object is touched after raising.
    if (outcome.Ok)
        Ready.Raise();
    else
        Error.Raise(outcome.Message);
}

} // namespace ornbrook
