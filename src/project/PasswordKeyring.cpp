#include "project/PasswordKeyring.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <memory>

namespace {

// The entry isReachable looks up: never written, so "not found" is the answer
// of a keyring that works.
const QString ProbeEntry = QStringLiteral("reachability-probe");

struct JobOutcome {
    bool finished = false;
    QKeychain::Error error = QKeychain::NoError;
    QString errorText;
};

// Starts job and waits for it at most timeout. A job that has not finished
// by then is left to delete itself whenever the keyring answers: its reply
// still refers to it.
JobOutcome waitFor(std::unique_ptr<QKeychain::Job> job, std::chrono::milliseconds timeout) {
    JobOutcome outcome;
    if (QCoreApplication::instance() == nullptr) {
        outcome.error = QKeychain::OtherError;
        outcome.errorText = QStringLiteral("no event loop to hear the keyring on");
        return outcome;
    }
    job->setAutoDelete(false);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(job.get(), &QKeychain::Job::finished, &loop, [&](QKeychain::Job* done) {
        outcome.finished = true;
        outcome.error = done->error();
        outcome.errorText = done->errorString();
        loop.quit();
    });
    timer.start(timeout);
    job->start();
    if (!outcome.finished)
        loop.exec();
    if (!outcome.finished) {
        QObject::disconnect(job.get(), &QKeychain::Job::finished, nullptr, nullptr); // the waiters are gone
        job.release()->setAutoDelete(true);
        outcome.error = QKeychain::OtherError;
        outcome.errorText = QStringLiteral("the keyring did not answer (it may be locked)");
    }
    return outcome;
}

QString describe(const JobOutcome& outcome) {
    return outcome.errorText.isEmpty() ? QStringLiteral("the keyring refused (error %1)").arg(int(outcome.error))
                                       : outcome.errorText;
}

} // namespace

std::optional<QString> PasswordKeyring::readPassword(const QString& entry, QString& error) const {
    auto job = std::make_unique<QKeychain::ReadPasswordJob>(ServiceName);
    QKeychain::ReadPasswordJob* reader = job.get();
    job->setKey(entry);
    QString password;
    QObject::connect(reader, &QKeychain::Job::finished, reader, [&password, reader] { password = reader->textData(); });
    const JobOutcome outcome = waitFor(std::move(job), m_timeout);
    if (!outcome.finished || outcome.error != QKeychain::NoError) {
        error = outcome.error == QKeychain::EntryNotFound
                    ? QStringLiteral("the keyring holds no password for this project")
                    : describe(outcome);
        return std::nullopt;
    }
    return password;
}

bool PasswordKeyring::writePassword(const QString& entry, const QString& password, QString& error) const {
    auto job = std::make_unique<QKeychain::WritePasswordJob>(ServiceName);
    job->setKey(entry);
    job->setTextData(password);
    const JobOutcome outcome = waitFor(std::move(job), m_timeout);
    if (outcome.finished && outcome.error == QKeychain::NoError)
        return true;
    error = describe(outcome);
    return false;
}

bool PasswordKeyring::removePassword(const QString& entry, QString& error) const {
    auto job = std::make_unique<QKeychain::DeletePasswordJob>(ServiceName);
    job->setKey(entry);
    const JobOutcome outcome = waitFor(std::move(job), m_timeout);
    if (outcome.finished && (outcome.error == QKeychain::NoError || outcome.error == QKeychain::EntryNotFound))
        return true;
    error = describe(outcome);
    return false;
}

bool PasswordKeyring::isReachable() const {
    auto job = std::make_unique<QKeychain::ReadPasswordJob>(ServiceName);
    job->setKey(ProbeEntry);
    const JobOutcome outcome = waitFor(std::move(job), m_timeout);
    return outcome.finished && (outcome.error == QKeychain::NoError || outcome.error == QKeychain::EntryNotFound);
}
