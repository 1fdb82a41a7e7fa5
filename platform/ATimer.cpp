#include "platform/ATimer.h"

#include "platform/Timer_Modul.h"

namespace ornbrook {

std::shared_ptr<ATimer> ATimer::Create() {
    return std::shared_ptr<ATimer>(new ATimer);
}

void ATimer::RaiseEvent_Timer() {
    Timer.Raise();
}

void ATimer::StartTimer() {
    if (timerID_ != 0)
        return;
    timerID_ = RegisterTimer(shared_from_this(), delay_, resolution_);
}

void ATimer::StoppTimer() {
    if (timerID_ == 0)
        return;
    UnregisterTimer(timerID_);
    timerID_ = 0;
}

} // namespace ornbrook
