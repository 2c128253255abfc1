#pragma once

#include <QString>

#include <optional>
#include <utility>

// Why a git operation failed: git's own message where it gave one.
struct GitError {
    QString message;
};

// A value, or the error that kept it from being made.
template <typename T> class [[nodiscard]] GitResult {
public:
    GitResult(T value)
        : m_value(std::move(value))
    {
    }
    GitResult(GitError error)
        : m_error(std::move(error.message))
    {
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    // Only when ok().
    const T& value() const& { return *m_value; }
    T& value() & { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    const T& operator*() const& { return *m_value; }
    const T* operator->() const { return &*m_value; }
    // Empty when ok().
    const QString& error() const { return m_error; }

private:
    std::optional<T> m_value;
    QString m_error;
};

// Success without a value, or the error.
template <> class [[nodiscard]] GitResult<void> {
public:
    GitResult() = default;
    GitResult(GitError error)
        : m_ok(false)
        , m_error(std::move(error.message))
    {
    }

    bool ok() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    const QString& error() const { return m_error; }

private:
    bool m_ok = true;
    QString m_error;
};
