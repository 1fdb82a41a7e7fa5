#include "ftp/ListingLines.h"

#include <gtest/gtest.h>

namespace ornbrook {
void PrintTo(const ListedEntry& e, std::ostream* os) {
    const ListedTime& t = e.Modified;
    *os << "{\"" << e.Name << "\" type " << static_cast<int>(e.Type) << " size "
        << (e.Size ? std::to_string(*e.Size) : "-") << " time " << static_cast<int>(t.Precision)
        << ":" << t.Year << "-" << t.Month << "-" << t.Day << " " << t.Hour << ":" << t.Minute
        << ":" << t.Second << (t.Utc ? "Z" : "") << " target \"" << e.LinkTarget << "\"}";
}
} // namespace ornbrook

using namespace ornbrook;
using Res = ListedTime::Resolution;

namespace {

ListedTime Time(Res precision, int year, int month, int day, int hour = 0, int minute = 0,
                int second = 0, bool utc = false) {
    return ListedTime{precision,
                      static_cast<std::int16_t>(year),
                      static_cast<std::uint8_t>(month),
                      static_cast<std::uint8_t>(day),
                      static_cast<std::uint8_t>(hour),
                      static_cast<std::uint8_t>(minute),
                      static_cast<std::uint8_t>(second),
                      utc};
}

ListedEntry Entry(std::string name, EntryType type, std::optional<std::uint64_t> size = {},
                  ListedTime modified = {}, std::string target = {}) {
    return ListedEntry{std::move(name), type, size, modified, std::move(target)};
}

struct Row {
    std::string line;
    LineKind kind;
    ListedEntry entry = {};
};

void Expect(LineKind (*parse)(std::string_view, ListedEntry&), const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        ListedEntry entry;
        EXPECT_EQ(parse(row.line, entry), row.kind);
        if (row.kind == LineKind::Entry) {
            EXPECT_EQ(entry, row.entry);
        }
    }
}

} // namespace

TEST(ListingLines, MachineLinesSplitAtTheFirstSemicolonSpace) {
    const auto modify = Time(Res::Second, 2024, 3, 5, 14, 7, 9, true);
    Expect(
        ParseMachineLine,
        {
            {"type=file;size=3;modify=20240305140709; a.txt", LineKind::Entry,
             Entry("a.txt", EntryType::File, 3, modify)},
            // Pure-FTPd: a link whose target holds a space.
            {"type=OS.unix=slink:a b;size=3;modify=20240305140709.123; link_to_ab", LineKind::Entry,
             Entry("link_to_ab", EntryType::Link, 3, modify, "a b")},
            {"Type=DIR;Modify=20240305140709;UNIX.mode=0755;  two  spaces ", LineKind::Entry,
             Entry(" two  spaces ", EntryType::Folder, {}, modify)},
            {"type=file; sub;dir", LineKind::Entry, Entry("sub;dir", EntryType::File)},
            // A value holding ";" continues past it.
            {"type=OS.unix=slink:x;y;size=1; l", LineKind::Entry,
             Entry("l", EntryType::Link, 1, {}, "x;y")},
            {"type=OS.unix=chr-1/3;perm=r; null", LineKind::Entry, Entry("null", EntryType::Other)},
            // Facts we cannot read leave the fact out, not the entry.
            {"type=file;size=12x;modify=2024; odd", LineKind::Entry, Entry("odd", EntryType::File)},
            // No facts: the name is all after the leading space.
            {" bare name", LineKind::Entry, Entry("bare name", EntryType::Unknown)},
            {"  lead", LineKind::Entry, Entry(" lead", EntryType::Unknown)},
            {"type=cdir;perm=el; /pub", LineKind::Skip},
            {"type=pdir; ..", LineKind::Skip},
            {"", LineKind::Skip},
            // "; " twice: facts might end at either.
            {"type=OS.unix=slink:a; b;size=3; x", LineKind::Ambiguous},
            {"type=file;size=3; a; b", LineKind::Ambiguous},
            {"garbage-without-space", LineKind::Unrecognised},
            {"type=file;size=1 name", LineKind::Unrecognised},
            {"no facts; name", LineKind::Unrecognised},
            {"=x; name", LineKind::Unrecognised},
            {"type=file; ", LineKind::Unrecognised},
            {" ", LineKind::Unrecognised},
        });
}

TEST(ListingLines, LongLinesInUnixAndDosStyle) {
    const auto minute = Time(Res::Minute, 0, 1, 15, 12, 34);
    const auto day = Time(Res::Day, 2023, 3, 7);
    Expect(
        ParseLongLine,
        {
            // vsftpd: numeric owners, zero-padded day.
            {"-rw-r--r--    1 0        0               5 Jan 15 12:34 plain.txt", LineKind::Entry,
             Entry("plain.txt", EntryType::File, 5, minute)},
            {"drwxr-xr-x   2 ftp      ftp          4096 Mar  7  2023 sub dir", LineKind::Entry,
             Entry("sub dir", EntryType::Folder, 4096, day)},
            // The name starts after the one blank that follows the date.
            {"-rw-r--r--   1 ftp      ftp             0 Jan 15 12:34  lead", LineKind::Entry,
             Entry(" lead", EntryType::File, 0, minute)},
            {"-rw-r--r--   1 ftp      ftp             0 Jan 15 12:34 trail  ", LineKind::Entry,
             Entry("trail  ", EntryType::File, 0, minute)},
            {"lrwxrwxrwx   1 ftp      ftp             7 Jan 15 12:34 link -> a -> b",
             LineKind::Entry, Entry("link", EntryType::Link, 7, minute, "a -> b")},
            // Eight columns: no group, or no link count.
            {"-rw-r--r-- 1 owner 12 Mar  7  2023 eight", LineKind::Entry,
             Entry("eight", EntryType::File, 12, day)},
            {"-rw-r--r-- owner group 12 Mar 7 2023 eight", LineKind::Entry,
             Entry("eight", EntryType::File, 12, day)},
            // An owner named like a month is no date.
            {"-rw-r--r--+  1 Jan      May            42 Mar  7  2023 acl", LineKind::Entry,
             Entry("acl", EntryType::File, 42, day)},
            {"crw-rw-rw-   1 root     root       1,   3 Jan 15 12:34 null", LineKind::Entry,
             Entry("null", EntryType::Other, {}, minute)},
            {"brw-rw----   1 root     disk       8,0 Jan 15 12:34 sda", LineKind::Entry,
             Entry("sda", EntryType::Other, {}, minute)},
            {"prw-r--r--   1 a b 0 Jan 15 12:34 fifo", LineKind::Entry,
             Entry("fifo", EntryType::Other, 0, minute)},
            {"-rw-r--r--   1 a b 18446744073709551615 Jan 15 12:34 huge", LineKind::Entry,
             Entry("huge", EntryType::File, 18446744073709551615ull, minute)},
            // IIS: the name column after "<DIR>" and ten blanks, or after the size.
            {"01-15-24  02:30PM       <DIR>          folder name", LineKind::Entry,
             Entry("folder name", EntryType::Folder, {}, Time(Res::Minute, 2024, 1, 15, 14, 30))},
            {"01-15-24  12:05AM       <DIR>           lead", LineKind::Entry,
             Entry(" lead", EntryType::Folder, {}, Time(Res::Minute, 2024, 1, 15, 0, 5))},
            {"12-31-99  11:59PM                 1234 file 1.txt", LineKind::Entry,
             Entry("file 1.txt", EntryType::File, 1234, Time(Res::Minute, 1999, 12, 31, 23, 59))},
            {"02-29-2024  09:00 <dir> x", LineKind::Entry,
             Entry("x", EntryType::Folder, {}, Time(Res::Minute, 2024, 2, 29, 9, 0))},
            {"total 42", LineKind::Skip},
            {"   ", LineKind::Skip},
            {"-rw-r--r--   1 a b 5 Jan 32 12:34 bad day", LineKind::Unrecognised},
            {"-rw-r--r--   1 a b 5 Jan 15 24:00 bad hour", LineKind::Unrecognised},
            {"-rw-r--r--   1 a b 5x Jan 15 12:34 bad size", LineKind::Unrecognised},
            {"-rw-r--r--   1 a b 5 Jan 15 12:34", LineKind::Unrecognised},
            {"-rw-r--r--   1 a b 5 15 Jan 12:34 european", LineKind::Unrecognised},
            {"-rw-r--r--   1 a b 5 2024-01-15 12:34 iso", LineKind::Unrecognised},
            {"13-01-24  02:30PM  5 bad month", LineKind::Unrecognised},
            {"01-15-24  13:30PM  5 bad hour", LineKind::Unrecognised},
            {"01-15-24  02:30PM       <DIR>", LineKind::Unrecognised},
            {"+i8388621.29609,m824255902,/,\tdev", LineKind::Unrecognised},
            {"name only", LineKind::Unrecognised},
        });
}

TEST(ListingLines, AmbiguousLinesAreNamedFromTheNameListingOrNotAtAll) {
    const std::string linkLine = "type=OS.unix=slink:a; b;size=3; x";
    const std::string nameLine = "type=file;size=3; a; b";
    const struct {
        const char* what;
        std::vector<std::string> lines;
        std::vector<std::string> names;
        bool named;
        std::vector<ListedEntry> entries;
    } rows[] = {
        {"a target holding \"; \"",
         {linkLine},
         {".", "..", "plain", "x"},
         true,
         {Entry("plain", EntryType::File), Entry("x", EntryType::Link, 3, {}, "a; b")}},
        {"a name holding \"; \"",
         {nameLine},
         {"plain", "a; b"},
         true,
         {Entry("plain", EntryType::File), Entry("a; b", EntryType::File, 3)}},
        // "b" is taken by the unambiguous entry of that name.
        {"a name taken already",
         {"type=file;size=3; a; plain"},
         {"plain", "a; plain"},
         true,
         {Entry("plain", EntryType::File), Entry("a; plain", EntryType::File, 3)}},
        {"gone meanwhile", {linkLine}, {"plain"}, false, {}},
        {"two names fit", {"type=file;size=3; a; b"}, {"plain", "b", "a; b"}, false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<ListedEntry> entries{Entry("plain", EntryType::File), ListedEntry{}};
        const bool named = NameAmbiguousLines(entries, {1}, row.lines, row.names);
        EXPECT_EQ(named, row.named);
        if (row.named) {
            EXPECT_EQ(entries, row.entries);
        }
    }
}
