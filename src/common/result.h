#pragma once

#include <utility>
#include <variant>

#include <QString>

namespace Common {

// What went wrong in an operation that can fail: a number (0 when the failure has none of its own),
// where it was raised, and a text fit to show the user.
struct Error final {
    int number = 0;
    QString source;
    QString message;
};

// The value of an operation that can fail, or the error that stopped it.
template <typename T> class Result final {
public:
    Result(T value)
        : m_state(std::move(value))
    {
    }
    Result(Error error)
        : m_state(std::move(error))
    {
    }

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(m_state); }
    T& value() { return std::get<T>(m_state); }
    const Error& error() const { return std::get<Error>(m_state); }

private:
    std::variant<T, Error> m_state;
};

// An operation that can fail and has no value of its own.
struct Done final { };
using Status = Result<Done>;

inline Status success() { return Status(Done {}); }

} // namespace Common
