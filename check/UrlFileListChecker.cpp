#include "check/UrlFileListChecker.h"

#include "check/CheckJob.h"
#include "check/CheckPool.h"

#include <stdexcept>

namespace ornbrook {

UrlFileListChecker::UrlFileListChecker(std::weak_ptr<CheckPool> pool) : pool_(std::move(pool)) {}

UrlFileListChecker::~UrlFileListChecker() {
    Cancel();
}

std::int32_t UrlFileListChecker::GetFilesCount() const {
    return static_cast<std::int32_t>(listing_.Entries.size());
}

std::string UrlFileListChecker::GetFile(std::int32_t Index) const {
    if (Index < 0 || Index > GetFilesCount())
        throw std::out_of_range("UrlFileListChecker::GetFile: index " + std::to_string(Index));
    return Index == 0 ? std::string() : listing_.Entries[static_cast<std::size_t>(Index - 1)].Name;
}

void UrlFileListChecker::Clear() {
    listing_ = {};
}

Listing UrlFileListChecker::TakeListing() {
    return std::exchange(listing_, {});
}

void UrlFileListChecker::Cancel() {
    if (const auto pool = pool_.lock(); pool && job_ != 0)
        pool->Cancel(job_);
    job_ = 0;
}

void UrlFileListChecker::CheckURL(const Url& theURL) {
    Cancel();
    url_ = theURL;
    Clear();
    certificate_.reset();
    hostKey_.reset();
    auto job = std::make_shared<const CheckJob>(url_, confirmEmptyListing_, depth_, mode_);
    const auto pool = pool_.lock();
    if (!pool) {
        Started.Raise();
        KeptLogins none;
        Finish(job->Run(nullptr, none));
        return;
    }
    CheckPool::Callbacks callbacks;
    callbacks.Started = [this] { Started.Raise(); };
    callbacks.Finished = [this](CheckOutcome outcome) {
        job_ = 0;
        Finish(std::move(outcome));
    };
    // The pool drops the callbacks when this checker cancels, which it does
    // before it goes.
    job_ = pool->Start(std::move(job), std::move(callbacks));
}

void UrlFileListChecker::Finish(CheckOutcome outcome) {
    certificate_ = std::move(outcome.Certificate);
    hostKey_ = std::move(outcome.HostKey);
    // A handler may cancel this checker and drop its owner's reference: nothing
    // of this object is touched after raising.
    if (outcome.Listed) {
        listing_ = std::move(*outcome.Listed);
        Ready.Raise();
    } else {
        Error.Raise(outcome.Listed.error());
    }
}

} // namespace ornbrook
