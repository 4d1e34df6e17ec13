#pragma once

#include <QString>

#include <chrono>
#include <optional>

// The desktop keyring (the Secret Service, through qtkeychain) as projects
// keep their passwords in it: one entry per project under the service
// "vellisync", named by the project's KeyringEntry. The keyring answers
// asynchronously; each call here waits for the answer in a local event loop,
// at most the timeout, so neither the window nor the runner waits forever on
// a keyring that never answers (a locked one whose prompt nobody sees).
// Needs a QCoreApplication; call it on the thread that runs its event loop.
class PasswordKeyring {
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{15000};
    inline static const QString ServiceName = QStringLiteral("vellisync");

    explicit PasswordKeyring(std::chrono::milliseconds timeout = DefaultTimeout) : m_timeout(timeout) {}

    // The password of entry; nullopt with error set when the keyring is
    // absent, locked, does not answer or holds no such entry.
    std::optional<QString> readPassword(const QString& entry, QString& error) const;
    // Stores password as entry, replacing what it held.
    bool writePassword(const QString& entry, const QString& password, QString& error) const;
    // Removes entry; an entry that is not there counts as removed.
    bool removePassword(const QString& entry, QString& error) const;
    // Whether a keyring answers and is unlocked, tried by looking up an
    // entry nobody stores.
    bool isReachable() const;

private:
    std::chrono::milliseconds m_timeout;
};
