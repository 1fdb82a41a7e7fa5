#include "ui/NotifySetting.h"

#include "app/FileIO_Code.h"
#include "app/ProgramGlobals.h"
#include "diag/Text_Code.h"

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
