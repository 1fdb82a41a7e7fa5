#pragma once

#include "base/Result.h"
#include "ftp/FtpControl.h"
#include "ftp/ServerMemory.h"
#include "ftp/TcpSocket.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ornbrook {

// What the server's replies say, and what our messages say of them: pure
// functions, no connection needed.

// The port of "229 Entering Extended Passive Mode (|||port|)" (RFC 2428 3);
// none when the text does not have that shape or the port is 0 or beyond 65535.
std::optional<std::uint16_t> EpsvPort(std::string_view text);
// The port of "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" (RFC 959 4.1.2);
// none when the six numbers are not all there or one is beyond 255. The
// address is not read: data goes to the control connection's peer, whatever
// address the reply names.
std::optional<std::uint16_t> PasvPort(std::string_view text);
// The command that announces a listening address: PORT for IPv4 (RFC 959),
// EPRT for IPv6 (RFC 2428 2).
std::string PortCommand(const SocketAddress& address);

// What FEAT's reply text (its lines joined by "\n") says of the listings and
// names the server offers (RFC 2389 3.2); the other facts stay as they are.
void ReadFeatureReply(std::string_view text, ServerFacts& facts);

// A refused login that asks for TLS: 534, or a refusal whose text says so.
bool AsksForTls(const Error& refusal);
// A positive reply to a listing that says the server cut it short.
bool SaysCut(const FtpReply& reply);
// A positive reply to a listing that says the listing failed all the same.
bool SaysFailed(const FtpReply& reply);
// A refused command that the server does not know or has not implemented (500,
// 502: RFC 959 4.2), so that asking again is no use.
// The time of an MDTM reply's text ("YYYYMMDDHHMMSS[.sss]", UTC) in seconds
// since 1970; none for anything else.
std::optional<std::int64_t> MdtmSeconds(std::string_view text);

bool IsUnknownCommand(const Error& refusal);

// The server's negative reply as a refusal.
Error Refusal(const FtpReply& reply);

// "120 s"; lengths that are no whole seconds (shortened ones) in milliseconds.
std::string Seconds(std::chrono::milliseconds length);
// What a failed connect (errno value) means to the user.
std::string ConnectProblem(int error, std::chrono::milliseconds timeout);
// The message of a server stuck in preliminary replies.
std::string PreliminaryFloodText();

} // namespace ornbrook
