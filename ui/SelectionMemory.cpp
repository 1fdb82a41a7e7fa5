#include "ui/SelectionMemory.h"

#include "base/Url.h"
#include "model/MainInterface.h"
#include "model/UrlFileList.h"
#include "model/UrlNames.h"
#include "ui/UrlsModel.h"

namespace ornbrook {

void StoreSelection(MainInterface& watchList, const UrlFileList* selected) {
    watchList.Prefs().SetLine(Preferences::Key::Selected,
                              selected ? watchList.NameOf(selected->URL()) : std::string());
}

int StoredSelectionRow(MainInterface& watchList, const UrlsModel& rows) {
    const std::string stored = watchList.Prefs().Line(Preferences::Key::Selected).value_or("");
    if (stored.empty())
        return -1;
    int lookAlike = -1;
    for (int row = 0; row < rows.rowCount(); ++row) {
        const auto entry = rows.EntryAt(row);
        if (!entry)
            continue;
        if (watchList.NameOf(entry->URL()) == stored)
            return row;
        if (lookAlike < 0 && (entry->ParsedURL().Masked() == stored ||
                              entry->ParsedURL().Masked() == UrlNames::MaskedPart(stored)))
            lookAlike = row;
    }
    return lookAlike;
}

} // namespace ornbrook
