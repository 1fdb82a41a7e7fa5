#include "ui/NotifySetting.h"

#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"
#include "base/Text_Code.h"

namespace ornbrook {

std::string NotifyFileName() {
    return ProgramDir + "notify.dat";
}

bool ReadNotifyNewFiles() {
    if (!FileExists(NotifyFileName()))
        return true;
    return TrimSpaces(ReadFirstLine(NotifyFileName(), "1")) != "0";
}

void WriteNotifyNewFiles(bool on) {
    WriteText(NotifyFileName(), on ? "1" : "0");
}

} // namespace ornbrook
