#include "ftp/FtpConnection.h"

#include <cstring>

#include <QCoreApplication>

#include "engine/FileJobs.h"
#include "project/Global.h"
#include "project/VellisyncProject.h"

namespace {

QString withoutTrailingLineBreak(QString text) {
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

QString proxyPrefix(qint32 kind) {
    switch (kind) {
    case 0:
        return QStringLiteral("ftp=ftp://");
    case 1:
        return QStringLiteral("socks=");
    default:
        return {};
    }
}

QString portRangeProblem(const QString& label, qint32 port, qint32 lowest) {
    if (port >= lowest && port <= TVellisyncProject::HighestPort)
        return {};
    return QStringLiteral("%1 %2 is outside the range %3 to %4")
        .arg(label)
        .arg(port)
        .arg(lowest)
        .arg(TVellisyncProject::HighestPort);
}

} // namespace

QString ErrorText(int code) {
    if (code == inet::ErrorExtendedError)
        return withoutTrailingLineBreak(inet::lastResponseInfo());
    QString text = inet::errorDescription(code);
    if (text.isEmpty()) {
        // The system's message table: the C library's descriptions of errno values.
        if (const char* description = strerrordesc_np(code))
            text = QString::fromLocal8Bit(description);
    }
    if (text.isEmpty()) {
        text = QStringLiteral("Unknown error %1 (%2)")
                   .arg(code)
                   .arg(QString::number(quint32(code), 16).toUpper().rightJustified(8, QLatin1Char('0')));
    }
    return text;
}

QString LastErrorText() {
    return ErrorText(inet::lastError());
}

QString ftpFailureLine(const QString& label) {
    return QCoreApplication::translate("Vellisync", "%1 fails with message: %2").arg(label, LastErrorText());
}

bool GetFtpCurrentDir(inet::FtpConnection& connection, QString& directory) {
    if (connection.getCurrentDirectory(directory))
        return true;
    directory.clear();
    return false;
}

bool SetFtpCurrentDir(inet::FtpConnection& connection, const QString& directory) {
    if (directory.isEmpty())
        return true;
    return connection.setCurrentDirectory(directory);
}

std::unique_ptr<inet::FtpFind> FtpFindFirstFileRetry(inet::FtpConnection& connection, const QString& pattern,
                                                     inet::FindData& first) {
    std::unique_ptr<inet::FtpFind> find;
    engine::retryOnTimeout([&] {
        find = connection.findFirstFile(pattern, first);
        return bool(find);
    });
    return find;
}

QString IncludeTrailingSlash(const QString& path) {
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

QString TVellisyncProject::ServerPortProblem() const {
    return portRangeProblem(QStringLiteral("Port"), Port, LowestServerPort);
}

QString TVellisyncProject::ProxyPortProblem() const {
    if (!UseProxy)
        return {};
    return portRangeProblem(QStringLiteral("Proxy port"), ProxyPort, LowestProxyPort);
}

bool TVellisyncProject::Connect() {
    // A stored port that does not fit 16 bits would otherwise be wrapped into
    // some other port, and a run would reach a server nobody named.
    for (const QString& problem : {ServerPortProblem(), ProxyPortProblem()}) {
        if (!problem.isEmpty()) {
            Log(problem);
            return false;
        }
    }
    if (UseProxy) {
        Log(QStringLiteral("Opening FTP by using proxy..."));
        const QString proxy =
            proxyPrefix(ProxyKind) + trimBlanksAndControls(ProxyServer) + QLatin1Char(':') + QString::number(ProxyPort);
        InternetHandle = inet::InternetSession::open(QStringLiteral("Vellisync"), inet::AccessType::Proxy, proxy);
    } else {
        Log(QStringLiteral("Opening FTP by using default settings..."));
        InternetHandle = inet::InternetSession::open(QStringLiteral("Vellisync"), inet::AccessType::Preconfigured, {});
    }
    if (!InternetHandle) {
        Log(ftpFailureLine(QStringLiteral("InternetOpen")));
        return false;
    }
    ConnectHandle = InternetHandle->connect(Server, quint16(Port), UserName, Password, Passive);
    if (!ConnectHandle) {
        Log(ftpFailureLine(QStringLiteral("InternetConnect")));
        return false;
    }
    Log(QStringLiteral("Done!"));
    return true;
}

bool TVellisyncProject::Disconnect() {
    ClosePool();           // the pool's connections first: they log on through the same service
    ConnectHandle.reset(); // sends QUIT while the service still exists
    InternetHandle.reset();
    return true;
}
