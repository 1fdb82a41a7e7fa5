#include "model/FileFacts.h"

#include <algorithm>

namespace ornbrook {

namespace {

bool TimesDiffer(const ListedTime& a, const ListedTime& b) {
    using Resolution = ListedTime::Resolution;
    if (a.Precision == Resolution::None || b.Precision == Resolution::None)
        return false;
    // As far as both know: "Mon DD YYYY" to the day, "Mon DD HH:MM" to the
    // minute and without a year.
    const Resolution common = std::min(a.Precision, b.Precision);
    if (a.Year != 0 && b.Year != 0 && a.Year != b.Year)
        return true;
    if (a.Month != b.Month || a.Day != b.Day)
        return true;
    if (common >= Resolution::Minute && (a.Hour != b.Hour || a.Minute != b.Minute))
        return true;
    return common >= Resolution::Second && a.Second != b.Second;
}

} // namespace

bool FactsDiffer(const FileFacts& before, const FileFacts& now) {
    if (before.Source != now.Source || !before.Known() || !now.Known())
        return false;
    if (before.Size && now.Size && *before.Size != *now.Size)
        return true;
    return TimesDiffer(before.Modified, now.Modified);
}

} // namespace ornbrook
