#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace ornbrook {

// A TCP connection to host and port for an SSH session: the name lookup and each
// address's connect end at `until` or as soon as stopFd (-1 for none) becomes
// readable. Addresses are tried in the resolver's order. Returns the connected
// non-blocking socket, or -1 with the reason ("connection refused", "no answer
// in 10 s", "unknown host", "stopped").
int ConnectTcp(const std::string& host, std::uint16_t port,
               std::chrono::steady_clock::time_point until, int stopFd,
               std::chrono::milliseconds stepLength, std::string& problem);

// "120 s"; lengths that are no whole seconds (shortened ones) in milliseconds.
std::string LengthText(std::chrono::milliseconds length);

} // namespace ornbrook
