#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ornbrook {

// How a URL's data connections are made: active (PORT/EPRT) first, passive
// (EPSV/PASV) once a server's active connection never came (Auto), or one of
// them alone.
enum class DataMode { Auto, Active, Passive };

// What one run of the program has learnt about an FTP server (host and port),
// so that later checks of the same server need not ask again or fail again.
struct ServerFacts {
    // The FEAT answer has been read.
    bool FeaturesKnown = false;
    bool MachineListing = false;
    // NLST is unknown to it (500 or 502): it lists with LIST alone.
    bool NoNameListing = false;
    // Its LIST lines parse and name what its NLST names: LIST alone gives
    // names and facts.
    bool LongListingTrusted = false;
    bool Utf8 = false;
    // FEAT names "REST STREAM": a download may resume where a partial one ended
    // (RFC 3659 5).
    bool RestStream = false;
    // Active data connections failed: use passive mode only.
    bool PassiveOnly = false;
};

// Shared by every session of the run, on any thread.
ServerFacts RecallServer(const std::string& host, std::int32_t port);
void RememberServer(const std::string& host, std::int32_t port, const ServerFacts& facts);
// The servers ("host:port", host in lower case) whose active data connections
// never came, and a server's key as they are named.
std::vector<std::string> PassiveServers();
// A server (by that key) whose active data connections never came in an
// earlier run: Auto sessions go passive at once.
void RememberPassive(const std::string& key);
std::string ServerMemoryKey(const std::string& host, std::int32_t port);
// Forgets every server (a new run, or a test starting afresh).
void ForgetServers();

} // namespace ornbrook
