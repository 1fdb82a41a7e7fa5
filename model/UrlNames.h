#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ornbrook {

// How every file but maindata.dat names a watched URL, so that a copy of the
// store or of the settings file gives away no password: "MASKED TAG", the URL
// as the list shows it (its password masked), a blank, and a tag that tells
// apart URLs that differ only in their password. The tag is the first 128 bits
// of HMAC-SHA-256 of the URL's text under a random key kept in urlkey.dat
// beside maindata.dat (owner-only): without the key, a tag cannot be tried
// against guessed passwords, however short they are.
class UrlNames final {
public:
    // The key kept in keyFile, or a new one written there (owner-only) when
    // there is none. A file that holds no key is kept aside (KeepDamagedCopy)
    // and replaced; notice then says so, and is empty otherwise. Throws
    // FileError when no key can be read or written.
    static UrlNames Load(const std::string& keyFile, std::string& notice);
    explicit UrlNames(std::string key) : key_(std::move(key)) {}

    std::string Of(std::string_view url) const;
    // The parts of a name: its masked URL and its tag (empty when it has none).
    static std::string_view MaskedPart(std::string_view name);
    static std::string_view TagPart(std::string_view name);
    static std::string Join(std::string_view masked, std::string_view tag);

    // Stored names that no URL of urls has (the key was lost and a new one
    // made, or a password was changed outside the program), matched to the
    // URLs that have no stored name by their masked form, where that is
    // unambiguous: one stored name and one URL of that form. Renamed maps old
    // names to new; Ambiguous holds the stored names left unmatched although
    // URLs of their form are there (URLs that differ only in their password).
    struct Matches {
        std::map<std::string, std::string> Renamed;
        std::vector<std::string> Ambiguous;
    };
    Matches Rematch(const std::vector<std::string>& stored,
                    const std::vector<std::string>& urls) const;

private:
    std::string key_;
};

} // namespace ornbrook
