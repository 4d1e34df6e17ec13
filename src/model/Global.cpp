#include "model/Global.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

QString ProjectsFolder;

namespace {

constexpr QChar PathSeparator = u'/';

quint32 clockSeed() {
    return quint32(QDateTime::currentMSecsSinceEpoch());
}

// Function-local so that it exists before start-up seeds it.
QRandomGenerator& randomGenerator() {
    static QRandomGenerator generator(clockSeed());
    return generator;
}

// The path up to and including its last separator.
QString parentOf(const QString& path) {
    return path.left(path.lastIndexOf(PathSeparator) + 1);
}

bool createFolder(const QString& path, QFileDevice::Permissions permissions) {
    QDir dir;
    if (permissions == QFileDevice::Permissions() ? dir.mkdir(path) : dir.mkdir(path, permissions))
        return true;
    // Several transfers may make the same folder at the same moment: one
    // that another has just made is there all the same.
    return QFileInfo(path).isDir();
}

} // namespace

void InitializeModelGlobals() {
    randomGenerator().seed(clockSeed());
    ProjectsFolder = DefaultProjectsFolder();
}

QString DefaultProjectsFolder() {
    return AddTrailingBackslash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) +
           QStringLiteral("Orvanta") + PathSeparator + QStringLiteral("VellisyncProjects");
}

QStringList ProjectFilesIn(const QString& folder) {
    QStringList files;
    if (folder.isEmpty()) {
        return files;
    }
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName().endsWith(QLatin1String(".VSPJ"), Qt::CaseInsensitive)) {
            files << entry.absoluteFilePath();
        }
    }
    return files;
}

QString trimBlanksAndControls(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 32)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 32)
        --last;
    return text.mid(first, last - first);
}

QString AddTrailingBackslash(const QString& path) {
    if (path.isEmpty() || path.endsWith(PathSeparator)) {
        return path;
    }
    return path + PathSeparator;
}

QString RemoveTrailingSlash(const QString& path) {
    if (path.size() <= 1 || !(path.endsWith(u'\\') || path.endsWith(u'/'))) {
        return path;
    }
    return path.chopped(1);
}

bool ForceFolders(const QString& folder, QFileDevice::Permissions permissions) {
    if (folder.isEmpty()) {
        return true;
    }
    QString path = folder;
    if (path.endsWith(PathSeparator)) {
        path.chop(1);
    }
    // Only the file-system root (which the chop above has emptied) is taken as existing.
    if (path.isEmpty() || QFileInfo(path).isDir()) {
        return true;
    }
    const QString parent = parentOf(path);
    if (parent == path) {
        return true;
    }
    if (!ForceFolders(parent, permissions)) {
        return false;
    }
    return createFolder(path, permissions);
}

QString RandomString(int count, QStringView alphabet) {
    const QString defaultAlphabet = QString::fromLatin1(DefaultRandomAlphabet);
    const QStringView letters = alphabet.isEmpty() ? QStringView(defaultAlphabet) : alphabet;
    QString result;
    result.reserve(std::max(count, 0));
    for (int i = 0; i < count; ++i) {
        result += letters.at(randomGenerator().bounded(int(letters.size())));
    }
    return result;
}

QString UniqueFileName(const QString& folder, const QString& format) {
    const QString prefix = AddTrailingBackslash(folder);
    QString name;
    do {
        name = format;
        const qsizetype slot = name.indexOf(QLatin1String("%s"));
        // A format without a slot still gets a random part, so the loop can end.
        name.replace(std::max<qsizetype>(slot, 0), slot < 0 ? 0 : 2, RandomString(8));
    } while (QFileInfo::exists(prefix + name));
    return name;
}
