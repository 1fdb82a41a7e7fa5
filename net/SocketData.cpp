#include "net/SocketData.h"

#include "base/NumberText.h"

namespace ornbrook {

SocketData SocketData::Byte(std::uint8_t byte) {
    SocketData data;
    data.value_ = ByteValue{SocketBytes{byte}};
    return data;
}

SocketData SocketData::Other(std::string textForm) {
    SocketData data;
    data.value_ = OtherValue{std::move(textForm)};
    return data;
}

SocketData SocketData::Number(double value) {
    return Other(NumberToText(value));
}

SocketData::Kind SocketData::GetKind() const {
    return static_cast<Kind>(value_.index());
}

std::string SocketData::Text() const {
    if (const auto* text = std::get_if<std::string>(&value_))
        return *text;
    if (const auto* other = std::get_if<OtherValue>(&value_))
        return other->text;
    return {};
}

const SocketBytes& SocketData::Bytes() const {
    static const SocketBytes none;
    if (const auto* bytes = std::get_if<SocketBytes>(&value_))
        return *bytes;
    if (const auto* byte = std::get_if<ByteValue>(&value_))
        return byte->one;
    return none;
}

} // namespace ornbrook
