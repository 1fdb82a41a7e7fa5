#pragma once

#include <string>
#include <utility>

namespace ornbrook {

// Outcome of one step of the FTP logic: protocol paths return this, never throw.
// Code is the server's reply code, or 0 when the failure is our side's
// (timeout, lost connection, malformed reply, cap exceeded).
struct FtpResult {
    bool Ok = false;
    int Code = 0;
    std::string Message;
    // The server refused the transfer command itself, before any data moved.
    bool Refused = false;

    static FtpResult Pass(int code = 0, std::string message = {}) {
        return {true, code, std::move(message), false};
    }
    static FtpResult Fail(int code, std::string message) {
        return {false, code, std::move(message), false};
    }
};

} // namespace ornbrook
