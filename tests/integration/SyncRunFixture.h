#pragma once

// What the tests of whole runs against the test server share: a project on
// two temporary folders, the server, and files with times.

#include <gtest/gtest.h>

#include <time.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <set>

#include "inet/FtpService.h"
#include "project/VellisyncProject.h"
#include "support/FtpTestServer.h"
#include "support/TestFiles.h"

// The test server lists times in UTC and the client turns them into local time;
// with the process in UTC both sides speak of the same wall-clock times.
class UtcZone {
public:
    UtcZone() : m_saved(qgetenv("TZ")), m_wasSet(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", "UTC");
        tzset();
    }
    ~UtcZone() {
        if (m_wasSet)
            qputenv("TZ", m_saved);
        else
            qunsetenv("TZ");
        tzset();
    }
    UtcZone(const UtcZone&) = delete;
    UtcZone& operator=(const UtcZone&) = delete;

private:
    QByteArray m_saved;
    bool m_wasSet;
};

// Short reply and data time-outs for the tests that stall the server; the
// previous ones come back when the test ends, however it ends.
class ShortTimeouts {
public:
    ShortTimeouts() : m_saved(inet::defaultTimeouts()) {
        inet::Timeouts limits;
        limits.reply = std::chrono::milliseconds(1500);
        limits.data = std::chrono::milliseconds(1500);
        inet::setDefaultTimeouts(limits);
    }
    ~ShortTimeouts() { inet::setDefaultTimeouts(m_saved); }
    ShortTimeouts(const ShortTimeouts&) = delete;
    ShortTimeouts& operator=(const ShortTimeouts&) = delete;

private:
    inet::Timeouts m_saved;
};

inline NaiveDateTime at(int day, int hour, int minute, int second = 0) {
    return NaiveDateTime::fromParts(2026, 3, day, hour, minute, second);
}

inline void writeFile(const QString& path, const QByteArray& content, NaiveDateTime time) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
    file.flush(); // a later flush would set the time again
    ASSERT_TRUE(file.setFileTime(time.toLocal(), QFileDevice::FileModificationTime));
}

// Every file below root, relative, with "/" between levels.
inline std::set<QString> tree(const QString& root) {
    std::set<QString> files;
    const QDir base(root);
    std::function<void(const QString&)> walk = [&](const QString& folder) {
        for (const QFileInfo& info :
             QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            if (info.isDir())
                walk(info.filePath());
            else
                files.insert(base.relativeFilePath(info.filePath()));
        }
    };
    walk(root);
    return files;
}

class SyncRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_localDir.isValid());
        ASSERT_TRUE(m_remoteDir.isValid());
        m_options.root = m_remoteDir.path();
        m_project.LocalFolder = m_localDir.path();
        m_project.RemoteFolder = QStringLiteral("/");
        m_project.UserName = QStringLiteral("tester");
        m_project.Password = QStringLiteral("secret");
        m_project.Passive = true;
        m_project.IncludeMasks = QStringLiteral("*.*");
        m_project.SubFilders = true;
        m_project.OnLog = [this](TVellisyncProject&, const QString& line) {
            m_log.append(line);
            if (m_onLine)
                m_onLine(line);
        };
    }

    void startServer() {
        m_server = std::make_unique<FtpTestServer>(m_options);
        ASSERT_TRUE(m_server->start()) << m_server->errorText().toStdString();
        m_project.Server = m_server->host();
        m_project.Port = m_server->port();
    }

    QString local(const QString& relative) const { return m_localDir.path() + QLatin1Char('/') + relative; }
    QString remote(const QString& relative) const { return m_remoteDir.path() + QLatin1Char('/') + relative; }
    QString localRoot() const { return m_localDir.path() + QLatin1Char('/'); }

    // The log from the first line after the scans.
    QStringList afterScans() const {
        const int lastDone = int(m_log.lastIndexOf(QStringLiteral("Done!")));
        return m_log.mid(lastDone + 1);
    }

    UtcZone m_zone;
    QTemporaryDir m_localDir;
    QTemporaryDir m_remoteDir;
    FtpTestServerOptions m_options;
    std::unique_ptr<FtpTestServer> m_server;
    TVellisyncProject m_project;
    QStringList m_log;
    std::function<void(const QString&)> m_onLine;
};
