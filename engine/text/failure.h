#pragma once

#include <QString>
#include <exception>

namespace corvanta {

/// A failed operation, carrying the platform's description of what went wrong.
class Failure : public std::exception {
public:
    explicit Failure(QString description)
        : m_description(std::move(description))
        , m_utf8(m_description.toUtf8()) {}

    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

/// Thrown by a loop that heard a stop request: whoever asked for the stop knows why, so it carries nothing and is
/// never reported as a failure.
struct StopRequested {};

/// A failed write to an output (as opposed to a failed read of an input), so that a caller can tell the two apart.
class WriteFailure : public Failure {
public:
    using Failure::Failure;
};

} // namespace corvanta
