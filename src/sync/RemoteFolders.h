#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <mutex>

namespace inet {
class FtpConnection;
}

namespace engine {

// The remote folders a run knows to exist: those the scan listed and those
// the run created. An upload then creates only the levels that are missing,
// each once even when several connections need it at the same moment, and
// probes nothing for a folder it knows. Safe to use from every connection's
// thread.
class RemoteFolders {
public:
    void addKnown(const QString& folder);
    // Forgets folder and every level below it (a store there was refused:
    // the folder may have gone since the scan).
    void forget(const QString& folder);

    // Makes sure every level of folder (a path that ends with "/", as
    // SplitRemotePath splits it) exists, creating the missing ones in order.
    // With probe, a level not known yet is tested before it is created (the
    // check of a folder that turned out not to be where the scan saw it).
    // False after the first level that could not be made; its failure line
    // ("FtpCreateDirectory fails with message: ...") is added to lines.
    bool ensure(inet::FtpConnection& connection, const QString& folder, bool probe, QStringList& lines);
    // Creates, many in one round trip, the levels of the folders given that
    // are not known yet (each a path that ends with "/"), before the uploads
    // that need them. What could not be made is left to ensure(), which says
    // why; nothing is logged here.
    void createAhead(inet::FtpConnection& connection, const QStringList& folders);

private:
    bool ensureLevel(inet::FtpConnection& connection, const QString& level, bool probe, QStringList& lines);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    QSet<QString> m_known;
    QSet<QString> m_inProgress;
};

// Whether the connection can enter folder. An absolute path leaves the
// connection there (nothing on the pool depends on its current folder); a
// relative one returns to where it was.
bool canEnter(inet::FtpConnection& connection, const QString& folder);

} // namespace engine
