#include "ftp/CheckRunner.h"

#include <utility>

namespace ornbrook {

namespace {
CheckRunner installedRunner;
} // namespace

void SetCheckRunner(CheckRunner runner) {
    installedRunner = std::move(runner);
}

void RunBlocking(const BlockingWork& work) {
    if (installedRunner)
        installedRunner(work);
    else
        work();
}

} // namespace ornbrook
