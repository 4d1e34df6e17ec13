// Passwords kept in the desktop keyring: the project saves them there and not
// in its file, the runner takes them from there, and without a keyring it
// says in one line how to give the password instead. A real Secret Service
// (the GNOME keyring daemon on a session bus of the test's own) where the
// machine can run one; the no-keyring cases always run.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "model/Errors.h"
#include "project/PasswordKeyring.h"
#include "project/VellisyncProject.h"
#include "support/FtpTestServer.h"
#include "support/KeyringSession.h"
#include "support/TestFiles.h"

namespace {

const QString CliPath = QStringLiteral(VELLISYNC_BINARY_DIR "/src/vellisync-cli");

struct CliResult {
    int exitCode = -1;
    QString err;
};

class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        for (const char* folder : {"remote", "local", "data", "state"})
            QDir(m_work.path()).mkpath(QString::fromLatin1(folder));
        FtpTestServerOptions options;
        options.root = m_work.filePath(QStringLiteral("remote"));
        m_server = std::make_unique<FtpTestServer>(options);
        ASSERT_TRUE(m_server->start()) << m_server->errorText().toStdString();
        writeFile(m_work.filePath(QStringLiteral("local/a.txt")), "a");
    }

    // A project that uploads local/ to the test server with its password.
    QString saveProject(const QString& name, bool inKeyring) {
        TVellisyncProject project;
        project.SetDefaults();
        project.SetServer(QStringLiteral("127.0.0.1"));
        project.SetPort(m_server->port());
        project.SetUserName(QStringLiteral("tester"));
        project.SetPassword(QStringLiteral("secret"));
        project.SetPassive(true);
        project.SetEncryption(setting::Encryption::None);
        project.SetSyncMode(setting::SyncMode::LocalToRemote);
        project.SetLocalFolder(m_work.filePath(QStringLiteral("local")));
        project.SetPasswordInKeyring(inKeyring);
        const QString file = m_work.filePath(name);
        project.SaveToFile(file);
        return file;
    }

    CliResult run(const QString& file, const QString& bus, const QByteArray& stdinPassword = {}) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_work.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_work.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus);
        env.remove(QStringLiteral("DISPLAY")); // no bus may be launched for the runner
        QProcess process;
        process.setProcessEnvironment(env);
        QStringList arguments{QStringLiteral("run"), file};
        if (!stdinPassword.isEmpty())
            arguments.insert(1, QStringLiteral("--password-stdin"));
        process.start(CliPath, arguments);
        EXPECT_TRUE(process.waitForStarted(10'000));
        process.write(stdinPassword);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(120'000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardError())};
    }

    bool uploaded() const { return QFile::exists(m_work.filePath(QStringLiteral("remote/a.txt"))); }

    QTemporaryDir m_work;
    std::unique_ptr<FtpTestServer> m_server;
};

void expectOneLineNamingPasswordStdin(const CliResult& result) {
    EXPECT_EQ(result.exitCode, 2) << result.err.toStdString();
    EXPECT_EQ(result.err.trimmed().count(QLatin1Char('\n')), 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String("desktop keyring"))) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String("--password-stdin"))) << result.err.toStdString();
}

} // namespace

TEST_F(KeyringTest, PasswordLivesInTheKeyringAndTheRunnerLogsOnWithIt) {
    KeyringSession keyring;
    if (const QString reason = keyring.start(); !reason.isEmpty())
        GTEST_SKIP() << "no Secret Service here: " << reason.toStdString();
    keyring.useInThisProcess();
    ASSERT_TRUE(TVellisyncProject::KeyringReachable());

    const QString file = saveProject(QStringLiteral("k.VSPJ"), true);
    const QByteArray stored = readFile(file);
    EXPECT_TRUE(stored.contains("\r\nPasswordStore=STRING|\"Keyring\"\r\n")) << stored.toStdString();
    EXPECT_FALSE(stored.contains("Password=")) << stored.toStdString();

    // A save that did not touch the password (a caption edit) keeps the keyring's.
    TVellisyncProject renamed;
    ASSERT_TRUE(renamed.LoadFromFile(file));
    renamed.SetCaption(QStringLiteral("Renamed"));
    renamed.SaveToFile(file);
    QString error;
    EXPECT_EQ(PasswordKeyring().readPassword(renamed.KeyringEntry, error), QStringLiteral("secret"))
        << error.toStdString();

    expectOneLineNamingPasswordStdin(run(file, NoBusAddress));
    EXPECT_FALSE(uploaded());
    const CliResult withKeyring = run(file, keyring.busAddress());
    EXPECT_EQ(withKeyring.exitCode, 0) << withKeyring.err.toStdString();
    EXPECT_TRUE(uploaded());

    // Back into the file: scrambled there again, and the entry leaves the keyring.
    TVellisyncProject moved;
    ASSERT_TRUE(moved.LoadFromFile(file));
    ASSERT_TRUE(moved.FetchKeyringPassword(error)) << error.toStdString();
    const QString entry = moved.KeyringEntry;
    moved.SetPasswordInKeyring(false);
    moved.SaveToFile(file);
    const QByteArray back = readFile(file);
    EXPECT_TRUE(back.contains("\r\nPassword=STRING|")) << back.toStdString();
    EXPECT_FALSE(back.contains("Keyring")) << back.toStdString();
    EXPECT_FALSE(PasswordKeyring().readPassword(entry, error));
    QFile::remove(m_work.filePath(QStringLiteral("remote/a.txt")));
    EXPECT_EQ(run(file, NoBusAddress).exitCode, 0);
    EXPECT_TRUE(uploaded());

    // A removed project takes its entry along.
    const QString other = saveProject(QStringLiteral("o.VSPJ"), true);
    TVellisyncProject removed;
    ASSERT_TRUE(removed.LoadFromFile(other));
    ASSERT_TRUE(removed.FetchKeyringPassword(error)) << error.toStdString();
    removed.ForgetKeyringPassword();
    EXPECT_FALSE(removed.FetchKeyringPassword(error));
}

TEST_F(KeyringTest, WithoutAKeyringScrambledProjectsRunAndKeyringOnesAskForTheirPassword) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", NoBusAddress.toUtf8());
    EXPECT_FALSE(TVellisyncProject::KeyringReachable());

    const QString scrambled = saveProject(QStringLiteral("s.VSPJ"), false);
    EXPECT_FALSE(readFile(scrambled).contains("Keyring"));
    const CliResult plain = run(scrambled, NoBusAddress);
    EXPECT_EQ(plain.exitCode, 0) << plain.err.toStdString();
    EXPECT_TRUE(uploaded());

    // Saving into an absent keyring fails before the file is touched.
    TVellisyncProject project;
    ASSERT_TRUE(project.LoadFromFile(scrambled));
    project.SetPasswordInKeyring(true);
    EXPECT_THROW(project.SaveToFile(scrambled), VellisyncError);
    EXPECT_FALSE(readFile(scrambled).contains("Keyring"));

    const QString inKeyring = m_work.filePath(QStringLiteral("k.VSPJ"));
    writeFile(inKeyring, readFile(scrambled) + "PasswordStore=STRING|\"Keyring\"\r\nKeyringEntry=STRING|\"0f1e\"\r\n");
    expectOneLineNamingPasswordStdin(run(inKeyring, NoBusAddress));
    QFile::remove(m_work.filePath(QStringLiteral("remote/a.txt")));
    const CliResult given = run(inKeyring, NoBusAddress, "secret\n");
    EXPECT_EQ(given.exitCode, 0) << given.err.toStdString();
    EXPECT_TRUE(uploaded());
}
