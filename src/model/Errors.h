#pragma once

#include <QString>

#include <stdexcept>

// The one exception type of the storage layer and the mask matcher. It carries
// the user-facing message, already formatted.
class VellisyncError : public std::runtime_error {
public:
    explicit VellisyncError(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}

    const QString& message() const noexcept { return m_message; }

private:
    QString m_message;
};
