#include "sync/FtpHelpers.h"

#include <cstring>

#include <QCoreApplication>

namespace {

QString withoutTrailingLineBreak(QString text) {
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
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

QString IncludeTrailingSlash(const QString& path) {
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}
