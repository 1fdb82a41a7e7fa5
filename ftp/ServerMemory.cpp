#include "ftp/ServerMemory.h"

#include "base/Text_Code.h"

#include <map>
#include <mutex>

namespace ornbrook {

namespace {

std::mutex memoryMutex;

std::map<std::string, ServerFacts>& Memory() {
    static std::map<std::string, ServerFacts> memory;
    return memory;
}

// Host names are not case-sensitive (RFC 4343).
std::string Key(const std::string& host, std::int32_t port) {
    return LowerCase(host) + ":" + std::to_string(port);
}

} // namespace

std::string ServerMemoryKey(const std::string& host, std::int32_t port) {
    return Key(host, port);
}

std::vector<std::string> PassiveServers() {
    const std::lock_guard lock(memoryMutex);
    std::vector<std::string> servers;
    for (const auto& [key, facts] : Memory()) {
        if (facts.PassiveOnly)
            servers.push_back(key);
    }
    return servers;
}

void RememberPassive(const std::string& key) {
    const std::lock_guard lock(memoryMutex);
    Memory()[key].PassiveOnly = true;
}

ServerFacts RecallServer(const std::string& host, std::int32_t port) {
    const std::lock_guard lock(memoryMutex);
    const auto it = Memory().find(Key(host, port));
    return it == Memory().end() ? ServerFacts{} : it->second;
}

void RememberServer(const std::string& host, std::int32_t port, const ServerFacts& facts) {
    const std::lock_guard lock(memoryMutex);
    Memory()[Key(host, port)] = facts;
}

void ForgetServers() {
    const std::lock_guard lock(memoryMutex);
    Memory().clear();
}

} // namespace ornbrook
