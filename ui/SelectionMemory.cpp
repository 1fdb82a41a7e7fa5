#include "ui/SelectionMemory.h"

#include "base/Url.h"
#include "model/Preferences.h"
#include "model/UrlFileList.h"
#include "ui/UrlsModel.h"

namespace ornbrook {

void StoreSelection(Preferences& preferences, const UrlFileList* selected) {
    preferences.SetLine(Preferences::Key::Selected,
                        selected ? selected->ParsedURL().Masked() : std::string());
}

int StoredSelectionRow(const Preferences& preferences, const UrlsModel& rows) {
    const std::string shown = preferences.Line(Preferences::Key::Selected).value_or("");
    if (shown.empty())
        return -1;
    for (int row = 0; row < rows.rowCount(); ++row) {
        if (const auto entry = rows.EntryAt(row); entry && entry->ParsedURL().Masked() == shown)
            return row;
    }
    return -1;
}

} // namespace ornbrook
