#pragma once

#include <concepts>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace ornbrook {

// What went wrong, as the program decides by it. The message is for the user
// and is never read back to find out what happened.
enum class ErrorKind {
    // The server said no to this request (Code holds its FTP reply, if any);
    // the login stands.
    Refused,
    // The server refused the login itself (user, password, keys): the same
    // login asked again will be refused again.
    LoginRefused,
    // No connection, or it was lost: closed, reset, broken or out of step.
    Connection,
    // A wait, or the whole check, took longer than allowed.
    TimedOut,
    // Called off from our side: the URL went, the window closed.
    Stopped,
    // What the server sent cannot be read or believed.
    Protocol,
    // The server's certificate or host key is not trusted.
    Untrusted,
    // A local file or folder could not be read or written.
    LocalFile,
    // Our own rules refuse it (a URL or a name that cannot be taken, a link in
    // the way): trying again changes nothing.
    Invalid,
    // The server sent more than it listed.
    Overrun,
    // The server cut the listing short: what it showed counts, nothing is gone.
    Cut,
    // Told by an earlier run: the data file keeps the message alone.
    Earlier,
};

struct Error {
    ErrorKind Kind = ErrorKind::Protocol;
    std::string Message;
    // The server's reply code when it refused (FTP); 0 otherwise.
    int Code = 0;
};

// A value or the error that took its place: the one way a step that can fail
// says how it went. Named as std::expected, which it stands in for.
template <typename T> class [[nodiscard]] Result {
public:
    // As std::expected: a default value.
    Result() requires std::default_initializable<T> : held_(std::in_place_index<0>) {}
    // Constrained so that it never takes a Result or an Error: the copy and
    // move constructors stay in reach.
    template <typename U = T>
    requires(!std::same_as<std::remove_cvref_t<U>, Result> &&
             !std::same_as<std::remove_cvref_t<U>, Error> && std::constructible_from<T, U>)
        Result(U&& value) // NOLINT(bugprone-forwarding-reference-overload)
        : held_(std::in_place_index<0>, std::forward<U>(value)) {}
    Result(Error error) : held_(std::in_place_index<1>, std::move(error)) {}

    bool has_value() const { return held_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T& value() & { return std::get<0>(held_); }
    const T& value() const& { return std::get<0>(held_); }
    T&& value() && { return std::get<0>(std::move(held_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const& { return std::get<1>(held_); }
    Error&& error() && { return std::get<1>(std::move(held_)); }

    friend bool operator==(const Result& result, const T& value) {
        return result.has_value() && result.value() == value;
    }

private:
    std::variant<T, Error> held_;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool has_value() const { return !error_; }
    explicit operator bool() const { return has_value(); }
    const Error& error() const& { return *error_; }
    Error&& error() && { return std::move(*error_); }

private:
    std::optional<Error> error_;
};

} // namespace ornbrook
