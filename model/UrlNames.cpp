#include "model/UrlNames.h"

#include "base/FileIO_Code.h"
#include "base/FileReplacement.h"
#include "base/Url.h"
#include "ftp/KeyedHash.h"
#include "model/DamagedFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ornbrook {

namespace {

constexpr std::size_t KeyBytes = 32;
// 128 bits: no two URLs of one watch list share a tag by chance.
constexpr std::size_t TagBytes = 16;

std::string Hex(std::string_view bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += Digits[byte >> 4];
        text += Digits[byte & 15];
    }
    return text;
}

bool IsKey(std::string_view text) {
    return text.size() == 2 * KeyBytes && std::all_of(text.begin(), text.end(), [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c)) != 0;
           });
}

std::string NewKey(const std::string& keyFile) {
    char bytes[KeyBytes];
    for (std::size_t got = 0; got < KeyBytes;) {
        const ssize_t n = ::getrandom(bytes + got, KeyBytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw FileError(keyFile, std::string("no random key: ") + std::strerror(errno));
        got += static_cast<std::size_t>(n);
    }
    return Hex(std::string_view(bytes, KeyBytes));
}

// Writes key to a new owner-only file and puts it at keyFile: over what is
// there with replace, else only where nothing is (false when something was).
bool PutKey(const std::string& keyFile, const std::string& key, bool replace) {
    FileReplacement file(keyFile);
    file.Write(key + "\n");
    if (!replace)
        return file.CommitNew();
    file.Commit();
    return true;
}

} // namespace

UrlNames UrlNames::Load(const std::string& keyFile, std::string& notice) {
    notice.clear();
    struct stat info {};
    if (::lstat(keyFile.c_str(), &info) != 0) {
        const std::string key = NewKey(keyFile);
        // Another process may have made one meanwhile: then that one counts.
        if (PutKey(keyFile, key, false))
            return UrlNames(key);
    } else if (!S_ISREG(info.st_mode)) {
        throw FileError(keyFile, "cannot be read: not a regular file");
    } else if (info.st_mode & 077) {
        // As owner-only as the passwords it guards.
        ::chmod(keyFile.c_str(), 0600);
    }
    std::ifstream in(keyFile, std::ios::binary);
    if (!in)
        throw FileError(keyFile, "cannot be read");
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (IsKey(text))
        return UrlNames(text);
    const std::string keptAs = KeepDamagedCopy(keyFile);
    const std::string key = NewKey(keyFile);
    PutKey(keyFile, key, true);
    if (!keptAs.empty())
        notice = "urlkey.dat is damaged, so a new key was made: the URLs' settings and stored "
                 "facts are matched again by their URLs without passwords. The file as it was is "
                 "kept as " +
                 keptAs + ".";
    return UrlNames(key);
}

std::string UrlNames::Of(std::string_view url) const {
    return Join(Url(std::string(url)).Masked(), Hex(HmacSha256(key_, url).substr(0, TagBytes)));
}

std::string_view UrlNames::MaskedPart(std::string_view name) {
    const auto blank = name.rfind(' ');
    return blank == std::string_view::npos ? name : name.substr(0, blank);
}

std::string_view UrlNames::TagPart(std::string_view name) {
    const auto blank = name.rfind(' ');
    return blank == std::string_view::npos ? std::string_view() : name.substr(blank + 1);
}

std::string UrlNames::Join(std::string_view masked, std::string_view tag) {
    return std::string(masked) + ' ' + std::string(tag);
}

UrlNames::Matches UrlNames::Rematch(const std::vector<std::string>& stored,
                                    const std::vector<std::string>& urls) const {
    const std::set<std::string> storedNames(stored.begin(), stored.end());
    std::set<std::string> current;
    // By masked form: the URLs without a stored name, the stored names without a URL.
    std::map<std::string, std::vector<std::string>, std::less<>> freeUrls, freeStored;
    for (const std::string& url : urls) {
        std::string name = Of(url);
        current.insert(name);
        if (storedNames.count(name) == 0)
            freeUrls[std::string(MaskedPart(name))].push_back(std::move(name));
    }
    for (const std::string& name : storedNames) {
        if (current.count(name) == 0)
            freeStored[std::string(MaskedPart(name))].push_back(name);
    }
    Matches matches;
    for (const auto& [masked, olds] : freeStored) {
        const auto found = freeUrls.find(masked);
        if (found == freeUrls.end())
            continue;
        if (olds.size() == 1 && found->second.size() == 1)
            matches.Renamed.emplace(olds.front(), found->second.front());
        else
            matches.Ambiguous.insert(matches.Ambiguous.end(), olds.begin(), olds.end());
    }
    return matches;
}

} // namespace ornbrook
