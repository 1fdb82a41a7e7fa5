#include "model/DataFileFormat.h"

#include "base/Mathe_Code.h"

#include <algorithm>

namespace ornbrook {

namespace {

constexpr std::size_t LengthBytes = 3;

void AppendLength(std::string& out, std::size_t length) {
    out += static_cast<char>(length & 0xFF);
    out += static_cast<char>((length >> 8) & 0xFF);
    out += static_cast<char>((length >> 16) & 0xFF);
}

void AppendText(std::string& out, std::string_view text) {
    AppendLength(out, text.size());
    out += text;
}

// Takes a 3-byte length and the text after it from data at p when both are
// there in full; p then moves past them.
bool TakeWholeText(std::string_view data, std::size_t& p, std::string_view& text) {
    if (data.size() - p < LengthBytes)
        return false;
    const std::size_t length = DecodeNumber(data.substr(p, LengthBytes));
    if (data.size() - p - LengthBytes < length)
        return false;
    text = data.substr(p + LengthBytes, length);
    p += LengthBytes + length;
    return true;
}

// Walks the entries from p: how many check out before the first fault, and
// whether there is one.
std::size_t CountEntries(std::string_view data, std::size_t p, bool& faulty) {
    std::size_t count = 0;
    std::string_view name;
    while (p < data.size()) {
        if (!TakeWholeText(data, p, name) || p >= data.size() ||
            static_cast<unsigned char>(data[p]) > FileStateGone) {
            faulty = true;
            return count;
        }
        ++p;
        ++count;
    }
    faulty = false;
    return count;
}

std::size_t ReadFully(const ByteReader& read, char* into, std::size_t count) {
    std::size_t got = 0;
    while (got < count) {
        const std::size_t n = read(into + got, count - got);
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

} // namespace

bool IsStorableURL(std::string_view url) {
    // A URL is never empty and never holds them; garbage read as a URL (zeros
    // above all) nearly always is or does.
    return !url.empty() && std::none_of(url.begin(), url.end(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code < 0x20 || code == 0x7F;
    });
}

std::size_t EntryBytes(std::string_view name) {
    return LengthBytes + name.size() + 1;
}

std::size_t RecordBytes(std::string_view url, std::string_view error,
                        const std::vector<FileEntry>& entries) {
    std::size_t bytes = 2 * LengthBytes + url.size() + error.size();
    for (std::size_t k = 1; k < entries.size(); ++k)
        bytes += entries[k].Settled ? EntryBytes(entries[k].Name) : 0;
    return bytes;
}

std::size_t AppendFrame(std::string& out, std::string_view url, std::string_view error,
                        const std::vector<FileEntry>& entries) {
    const std::size_t frameStart = out.size();
    out.append(LengthBytes, '\0');
    const std::size_t recordStart = out.size();
    const auto used = [&] { return out.size() - recordStart; };
    // The URL leaves room for the error's length; the error takes what is left.
    AppendText(out, url.substr(0, MaxFieldLength - 2 * LengthBytes));
    AppendText(out, error.substr(0, MaxFieldLength - LengthBytes - used()));
    std::size_t omitted = 0;
    for (std::size_t k = 1; k < entries.size(); ++k) {
        const FileEntry& entry = entries[k];
        // A file first seen while arriving has not settled: it is not in the
        // list the design's file holds, so that an older reader never sees it.
        if (!entry.Settled)
            continue;
        if (!RecordFits(used() + EntryBytes(entry.Name))) {
            ++omitted;
            continue;
        }
        AppendText(out, entry.Name);
        out += static_cast<char>(entry.State & 0xFF);
    }
    std::string length;
    AppendLength(length, used());
    out.replace(frameStart, LengthBytes, length);
    return omitted;
}

std::string EncodeRecord(std::string_view url, std::string_view error,
                         const std::vector<FileEntry>& entries) {
    std::string frame;
    AppendFrame(frame, url, error, entries);
    return frame.substr(LengthBytes);
}

RecordCheck DecodeRecordInto(std::string_view data, UrlRecord& record) {
    if (record.Entries.empty())
        record.Entries.emplace_back();
    std::size_t p = 0;
    std::string_view url, error;
    if (!TakeWholeText(data, p, url) || !IsStorableURL(url))
        return RecordCheck::Unusable;
    record.URL = std::string(url);
    if (!TakeWholeText(data, p, error))
        return RecordCheck::Partial;
    record.ErrorMsg = std::string(error);
    // Counted first, so that the entries take one allocation of their exact size.
    bool faulty = false;
    const std::size_t count = CountEntries(data, p, faulty);
    record.Entries.reserve(record.Entries.size() + count);
    std::string_view name;
    for (std::size_t k = 0; k < count; ++k) {
        TakeWholeText(data, p, name);
        record.Entries.push_back(FileEntry{std::string(name), static_cast<unsigned char>(data[p])});
        ++p;
    }
    return faulty ? RecordCheck::Partial : RecordCheck::Whole;
}

FramesRead ReadFrames(const ByteReader& read, const std::function<void(UrlRecord&)>& take) {
    // Frames are read in pieces into one buffer that grows only as bytes
    // arrive: a length that lies about the file costs nothing it does not hold.
    constexpr std::size_t Piece = 1 << 20;
    FramesRead found;
    std::string buffer;
    for (;;) {
        char digits[LengthBytes];
        const std::size_t got = ReadFully(read, digits, LengthBytes);
        if (got < LengthBytes) {
            found.Cut = got > 0;
            return found;
        }
        const std::size_t length = DecodeNumber(std::string_view(digits, LengthBytes));
        std::size_t filled = 0;
        while (filled < length) {
            const std::size_t piece = std::min(length - filled, Piece);
            if (buffer.size() < filled + piece)
                buffer.resize(filled + piece);
            const std::size_t n = ReadFully(read, buffer.data() + filled, piece);
            filled += n;
            if (n < piece)
                break;
        }
        found.Cut = filled < length;
        UrlRecord record;
        RecordCheck check = DecodeRecordInto(std::string_view(buffer.data(), filled), record);
        if (found.Cut && check == RecordCheck::Whole)
            check = RecordCheck::Partial;
        switch (check) {
        case RecordCheck::Whole:
            ++found.Whole;
            break;
        case RecordCheck::Partial:
            ++found.Partial;
            break;
        case RecordCheck::Unusable:
            ++found.Unusable;
            break;
        }
        if (check != RecordCheck::Unusable)
            take(record);
        if (found.Cut)
            return found;
    }
}

FramesRead ReadFrames(std::string_view file, const std::function<void(UrlRecord&)>& take) {
    return ReadFrames(
        [&file](char* into, std::size_t count) {
            const std::size_t n = std::min(count, file.size());
            std::copy_n(file.data(), n, into);
            file.remove_prefix(n);
            return n;
        },
        take);
}

} // namespace ornbrook
