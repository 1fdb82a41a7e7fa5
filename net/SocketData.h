#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace ornbrook {

using SocketBytes = std::vector<std::uint8_t>;

// A value handed to CSocket::SendData or CSocket::WindowProc. Its kind decides
// how SendData turns it into bytes:
//   Text   the text, then the socket's LineSeparator (one line in line mode);
//   Byte   that one byte;
//   Bytes  the bytes unchanged;
//   Other  any other value by its text form, sent as 16-bit character units
//          (two bytes per character, low byte first), without separator;
//   Empty  no value (an Other whose text form is empty: nothing is sent).
class SocketData final {
public:
    enum class Kind { Empty, Text, Byte, Bytes, Other };

    SocketData() = default;
    SocketData(std::string text) : value_(std::move(text)) {}
    SocketData(const char* text) : value_(std::string(text)) {}
    SocketData(SocketBytes bytes) : value_(std::move(bytes)) {}

    static SocketData Byte(std::uint8_t byte);
    // A value of another kind (a number, a date, ...) given by its text form.
    static SocketData Other(std::string textForm);
    // A number by its text form ("5", ".5", "-1E-05").
    static SocketData Number(double value);

    Kind GetKind() const;
    // The text of Text and Other; empty for the other kinds.
    std::string Text() const;
    // The bytes of Bytes and the one byte of Byte; empty for the other kinds.
    // Held by the value, not copied: valid while it lives unchanged.
    const SocketBytes& Bytes() const;

private:
    struct ByteValue {
        SocketBytes one;
    };
    struct OtherValue {
        std::string text;
    };
    // In the order of Kind.
    std::variant<std::monostate, std::string, ByteValue, SocketBytes, OtherValue> value_;
};

} // namespace ornbrook
