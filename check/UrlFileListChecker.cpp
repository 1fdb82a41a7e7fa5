#include "check/UrlFileListChecker.h"

#include "check/CheckJob.h"
#include "check/CheckPool.h"

namespace ornbrook {

UrlFileListChecker::UrlFileListChecker(std::weak_ptr<CheckPool> pool) : pool_(std::move(pool)) {}

UrlFileListChecker::~UrlFileListChecker() {
    Cancel();
}

void UrlFileListChecker::Cancel() {
    if (const auto pool = pool_.lock(); pool && job_ != 0)
        pool->Cancel(job_);
    job_ = 0;
}

void UrlFileListChecker::CheckURL(const Url& theURL) {
    Cancel();
    url_ = theURL;
    auto job = std::make_shared<const CheckJob>(url_, confirmEmptyListing_, depth_, mode_);
    const auto pool = pool_.lock();
    if (!pool) {
        Started.Raise();
        KeptLogins none;
        CheckOutcome outcome = job->Run(nullptr, none);
        Ended.Raise(outcome);
        return;
    }
    CheckPool::Callbacks callbacks;
    callbacks.Started = [this] { Started.Raise(); };
    callbacks.Finished = [this](CheckOutcome outcome) {
        job_ = 0;
        // A handler may cancel this checker and drop its owner's reference:
        // nothing of this object is touched after raising.
        Ended.Raise(outcome);
    };
    // The pool drops the callbacks when this checker cancels, which it does
    // before it goes.
    job_ = pool->Start(std::move(job), std::move(callbacks));
}

} // namespace ornbrook
