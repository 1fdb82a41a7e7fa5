#include "ftp/CheckRunner.h"

#include <mutex>

namespace ornbrook {

namespace {

std::mutex runnerMutex;

CheckRunner& InstalledRunner() {
    static CheckRunner runner;
    return runner;
}

} // namespace

void SetCheckRunner(CheckRunner runner) {
    const std::lock_guard lock(runnerMutex);
    InstalledRunner() = std::move(runner);
}

void RunBlocking(const BlockingWork& work) {
    CheckRunner runner;
    {
        const std::lock_guard lock(runnerMutex);
        runner = InstalledRunner();
    }
    if (runner)
        runner(work);
    else
        work();
}

} // namespace ornbrook
