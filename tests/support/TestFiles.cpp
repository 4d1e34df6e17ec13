#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "sync/ListOfFiles.h"
#include "model/Errors.h"

#include <sys/stat.h>

QString errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const VellisyncError& error) {
        return error.message();
    }
    return QString();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(content), content.size()) << path.toStdString();
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QStringList sortedNames(const TListOfFiles& list) {
    QStringList names;
    for (int i = 0; i < list.Count(); ++i)
        names.append(list.Strings(i));
    names.sort();
    return names;
}

RelativeName relativeName(const QString& path) {
    return RelativeName::fromPath(path).value();
}
