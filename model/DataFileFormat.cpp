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

// Reads a 3-byte length and the text after it from data at p, as far as the
// bytes go; p moves past what the record says it holds.
std::string_view TakeText(std::string_view data, std::size_t& p) {
    const std::string_view digits = data.substr(std::min(p, data.size()), LengthBytes);
    const std::size_t length = DecodeNumber(digits);
    p += LengthBytes;
    const std::size_t start = std::min(p, data.size());
    const std::string_view text = data.substr(start, length);
    p += length;
    return text;
}

} // namespace

std::size_t EntryBytes(std::string_view name) {
    return LengthBytes + name.size() + 1;
}

std::size_t RecordBytes(std::string_view url, std::string_view error,
                        const std::vector<FileEntry>& entries) {
    std::size_t bytes = 2 * LengthBytes + url.size() + error.size();
    for (std::size_t k = 1; k < entries.size(); ++k)
        bytes += EntryBytes(entries[k].Name);
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

void DecodeRecordInto(std::string_view data, UrlRecord& record) {
    std::size_t p = 0;
    record.URL = std::string(TakeText(data, p));
    record.ErrorMsg = std::string(TakeText(data, p));
    if (record.Entries.empty())
        record.Entries.emplace_back();
    while (p < data.size()) {
        std::string name(TakeText(data, p));
        const std::int32_t state = p < data.size() ? static_cast<unsigned char>(data[p]) : 0;
        p += 1;
        record.Entries.push_back(FileEntry{std::move(name), state});
    }
}

std::vector<std::string_view> SplitFrames(std::string_view file) {
    std::vector<std::string_view> frames;
    std::size_t p = 0;
    while (p < file.size()) {
        frames.push_back(TakeText(file, p));
    }
    return frames;
}

} // namespace ornbrook
