#pragma once

#include <atomic>

namespace ornbrook {

// Ends every wait of one check at once, from any thread: a blocking wait polls
// this descriptor beside its socket, so stopping needs no flag read between
// waits. Once stopped it stays stopped.
class StopSignal final {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void Stop();
    bool Stopped() const;
    // Readable once stopped; -1 if the descriptor could not be made (then only
    // the flag and the deadlines end waits).
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
    std::atomic<bool> stopped_{false};
};

} // namespace ornbrook
