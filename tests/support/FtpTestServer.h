#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// Options of the test FTP server (tests/support/ftp_server.py).
struct FtpTestServerOptions {
    QString root; // folder served to every user (required)
    QString host = QStringLiteral("127.0.0.1");
    QString user = QStringLiteral("tester");
    QString password = QStringLiteral("secret");
    bool anonymous = false;
    bool mlsd = true;
    bool epsv = true;
    QStringList denyCwd;           // folder names CWD refuses
    QStringList readOnlyDirs;      // folder names in which writes are refused
    QStringList stalls;            // "COMMAND:N": ignore the first N occurrences
    QStringList delays;            // "COMMAND:SECONDS[:N]": answer the first N occurrences (1) late
    int abortRetrAfter = -1;       // close RETR data connections after so many bytes
    bool refuseRenameOver = false; // RNTO onto an existing file fails
    bool refuseRename = false;     // every RNTO fails with 553
    QString silentFrom;            // "COMMAND[:N]": from then on no command is answered
    int maxConnections = 0;        // refuse logons beyond so many sockets, its listening one included (0: no limit)
    int maxConnectionsPerIp = 0;   // refuse control connections from one address beyond so many (0: no limit)
    QString dropOn;                // "COMMAND:N": close the control connection instead of answering
    bool logCommands = false;      // every command on standard error ("COMMAND MKD /a"), see serverLog()
    QStringList listNames;         // extra file names in every listing
    QStringList listLines;         // extra raw lines in every listing
    QStringList unlistableDirs;    // folder names that can be entered but not listed (vsftpd, mode 111)
    QStringList emptyStatDirs;     // folder names whose STAT listing is empty
    QStringList unreadableDirs;    // folder names that can be entered but not read (pyftpdlib, mode 111)
    QString tlsCertificate;        // PEM with certificate and key: the server offers AUTH TLS
    bool tlsRequired = false;      // TLS before the logon and PROT P before any transfer
    bool tlsImplicit = false;      // TLS from the first byte
    bool tlsKeepDataOpen = false;  // data connections stay open after close_notify until the client closes
    QStringList extraArguments;
};

// A real pyftpdlib server on a loopback address and a free port, started by the
// test and stopped when the object goes.
class FtpTestServer {
public:
    explicit FtpTestServer(FtpTestServerOptions options);
    ~FtpTestServer();
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    // Starts the server and waits until it announces its port; false (with the
    // server's output in errorText()) when it did not start.
    bool start();
    void stop();

    quint16 port() const { return m_port; }
    const QString& host() const { return m_options.host; }
    const QString& root() const { return m_options.root; }
    const FtpTestServerOptions& options() const { return m_options; }
    QString errorText() const { return m_error; }
    // What the server wrote on standard error so far (its command log).
    QString serverLog();

private:
    FtpTestServerOptions m_options;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
    QString m_log;
};

// The path of a helper file in tests/support.
QString testSupportPath(const QString& fileName);
// Whether this machine can listen on ::1.
bool hasIpv6Loopback();
// Ends a helper program started by a test (politely first, then by force)
// and drops it; nothing happens when there is none.
void stopProcess(std::unique_ptr<QProcess>& process);
