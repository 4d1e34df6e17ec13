#include "sync/FtpHelpers.h"

#include <cstring>

#include <QCoreApplication>

#include "inet/ReplyParser.h"

QString ErrorText(int code, const QString& lastReply) {
    if (code == inet::ErrorExtendedError)
        return inet::withoutLineBreak(lastReply);
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

QString LastErrorText(const inet::FtpConnection& connection) {
    return ErrorText(connection.lastError(), connection.lastResponseInfo());
}

QString ftpFailureLine(const inet::FtpConnection& connection, const QString& label) {
    return ftpFailureLine(inet::Failure{connection.lastError(), connection.lastResponseInfo()}, label);
}

QString ftpFailureLine(const inet::Failure& failure, const QString& label) {
    return QCoreApplication::translate("Vellisync", "%1 fails with message: %2")
        .arg(label, ErrorText(failure.code, failure.lastResponseInfo));
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

QString IncludeTrailingSlash(const QString& path) {
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

bool RemoteFolderExists(inet::FtpConnection& connection, const QString& path) {
    QString current;
    if (!GetFtpCurrentDir(connection, current))
        return false;
    const bool entered = connection.setCurrentDirectory(path);
    if (entered)
        connection.setCurrentDirectory(current);
    return entered;
}

void SplitRemotePath(const QString& path, QStringList& levels) {
    levels.clear();
    QString rest = path;
    // A leading "/" stays with the first level.
    qsizetype next = rest.indexOf(QLatin1Char('/'), rest.startsWith(QLatin1Char('/')) ? 1 : 0);
    while (next >= 0) {
        levels.append(rest.left(next));
        rest = rest.mid(next + 1);
        next = rest.indexOf(QLatin1Char('/'));
    }
    if (!rest.isEmpty())
        levels.append(rest);
}
