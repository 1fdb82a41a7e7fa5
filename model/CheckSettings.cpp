#include "model/CheckSettings.h"

#include "base/FileIO_Code.h"
#include "base/NumberText.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"
#include "check/CheckPool.h"

#include <algorithm>

namespace ornbrook {

std::string ChecksAtOnceFileName() {
    return ProgramDir + "checksatonce.dat";
}

std::int32_t ReadChecksAtOnce() {
    // Read without creating: the command line leaves the window's files alone.
    if (!FileExists(ChecksAtOnceFileName()))
        return CheckPool::DefaultAtOnce;
    const std::string line = ReadFirstLine(ChecksAtOnceFileName(), "");
    if (line.find_first_of("0123456789") == std::string::npos)
        return CheckPool::DefaultAtOnce;
    return std::clamp(TextToInt32(line), 1, CheckPool::MaxAtOnce);
}

std::int32_t CheckIntervalOf(const std::string& line) {
    return std::max(TextToInt32(line), 0);
}

std::string SettleFileName() {
    return ProgramDir + "settle.dat";
}

std::int32_t ReadSettleSeconds() {
    // Read without creating, as checksatonce.dat.
    if (!FileExists(SettleFileName()))
        return DefaultSettleSeconds;
    const std::string line = TrimSpaces(ReadFirstLine(SettleFileName(), ""));
    if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos)
        return DefaultSettleSeconds;
    return std::clamp(TextToInt32(line), 0, MaxSettleSeconds);
}

} // namespace ornbrook
