#include "ui/SelectionMemory.h"

#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"
#include "model/UrlFileList.h"
#include "ui/UrlsModel.h"

namespace ornbrook {

std::string SelectionFileName() {
    return ProgramDir + "selected.dat";
}

void StoreSelection(const UrlFileList* selected) {
    WriteText(SelectionFileName(), selected ? selected->ParsedURL().Masked() : std::string());
}

int StoredSelectionRow(const UrlsModel& rows) {
    if (!FileExists(SelectionFileName()))
        return -1;
    const std::string shown = ReadFirstLine(SelectionFileName(), "");
    if (shown.empty())
        return -1;
    for (int row = 0; row < rows.rowCount(); ++row) {
        if (const auto entry = rows.EntryAt(row); entry && entry->ParsedURL().Masked() == shown)
            return row;
    }
    return -1;
}

} // namespace ornbrook
