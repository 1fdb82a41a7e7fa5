#include "check/CheckJob.h"

#include "base/Text_Code.h"

namespace ornbrook {

CheckJob::CheckJob(std::string url, bool confirmEmpty)
    : url_(std::move(url)), target_(ParseURL(url_)), confirmEmpty_(confirmEmpty),
      server_(LowerCase(target_.Host) + ":" +
              std::to_string(target_.Port == 0 ? 21 : target_.Port)),
      login_(LoginKey(target_)) {}

ListingOutcome CheckJob::Run(const StopSignal* stop, KeptLogins& kept) const {
    return ListDirectory(target_, login_, confirmEmpty_, stop, &kept.Ftp);
}

} // namespace ornbrook
