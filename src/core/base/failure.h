#pragma once

#include "core/base/messages.h"

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tolvane {

// The system's text for an errno value.
inline std::string systemErrorText(int error)
{
    return std::strerror(error);
}

// Why an operation of the core failed: the system's errno (0 when the system reported nothing),
// what was being done to what, and the numbered message an operator is shown for it, if any.
struct Failure {
    Failure() = default;
    Failure(int err, std::string what, std::optional<MessageId> operatorMessage = std::nullopt)
        : error(err), context(std::move(what)), message(operatorMessage)
    {
    }

    int error = 0;
    std::string context;
    std::optional<MessageId> message;

    // "open /x/y.bin: No such file or directory"
    std::string text() const
    {
        return error != 0 ? context + ": " + systemErrorText(error) : context;
    }
};

// A value, or the Failure that kept it from being made.
template <typename T> class Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Failure failure) : m_state(std::move(failure)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(m_state); }
    T& value() & { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }
    const Failure& failure() const { return std::get<1>(m_state); }

private:
    std::variant<T, Failure> m_state;
};

// Success with nothing to hand back, or the Failure.
template <> class Result<void> {
public:
    Result() = default;
    Result(Failure failure) : m_failure(std::move(failure)) {}

    bool ok() const { return !m_failure.has_value(); }
    explicit operator bool() const { return ok(); }
    const Failure& failure() const { return *m_failure; }

private:
    std::optional<Failure> m_failure;
};

} // namespace tolvane
