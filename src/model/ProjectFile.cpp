#include "model/ProjectFile.h"

#include <algorithm>
#include <array>
#include <chrono>

#include <QFile>
#include <QFileInfo>

#include "model/Errors.h"
#include "model/Global.h"
#include "model/IniSaver.h"

namespace {

constexpr int BufferSize = 256;
constexpr int MaxPasswordBytes = BufferSize - 1;
constexpr int GroupDigits = 5;
constexpr int MinCoveredBytes = 10;

// A project file holds a few short settings; a file many times that size
// is something else, and must not be read whole.
constexpr qint64 MaxProjectFileBytes = 1024 * 1024;

using WorkBuffer = std::array<quint8, BufferSize>;

// At most MaxPasswordBytes of UTF-8, cut before a character that would not fit whole.
QByteArray passwordBytes(const QString& password) {
    QByteArray bytes = password.toUtf8();
    if (bytes.size() <= MaxPasswordBytes) {
        return bytes;
    }
    qsizetype cut = MaxPasswordBytes;
    // Step back over continuation bytes (10xxxxxx) to the start of the cut character.
    while (cut > 0 && (quint8(bytes.at(cut)) & 0xC0) == 0x80) {
        --cut;
    }
    return bytes.left(cut);
}

// Milliseconds of a monotonic clock, as the filler of an empty password.
QByteArray tickCountDigits() {
    const auto ticks =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return QByteArray::number(quint32(ticks.count()));
}

// The text laid after the length byte: the password repeated until it is at
// least ten bytes long (an empty one gives clock digits instead).
QByteArray paddedText(const QByteArray& password) {
    if (password.isEmpty()) {
        return tickCountDigits();
    }
    QByteArray text = password;
    while (text.size() < MinCoveredBytes) {
        text = (text + text).left(MaxPasswordBytes);
    }
    return text;
}

QString passwordFileFolder(const QString& fileName) {
    return RemoveTrailingSlash(fileName.left(fileName.lastIndexOf(u'/') + 1));
}

[[noreturn]] void throwCannotOpen(const QString& fileName, const QString& reason) {
    throw VellisyncError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, reason));
}

[[noreturn]] void throwNotAProject(const QString& fileName, const QString& reason) {
    throw VellisyncError(QStringLiteral("\"%1\" is not a project file: %2").arg(fileName, reason));
}

// The bytes of a project file. Anything but a regular file (after links) is
// refused before it is opened: a device such as /dev/zero never ends, and
// opening a pipe waits for a writer. At most the limit and one byte are read.
QByteArray readProjectFile(const QString& fileName) {
    const QString notRegular = QStringLiteral("It is not a regular file");
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        throwCannotOpen(fileName, notRegular);
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throwCannotOpen(fileName, file.errorString());
    }
    if (file.isSequential()) { // replaced since the check above
        throwCannotOpen(fileName, notRegular);
    }
    const QByteArray bytes = file.read(MaxProjectFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        throwCannotOpen(fileName, file.errorString());
    }
    if (bytes.size() > MaxProjectFileBytes) {
        throwNotAProject(fileName, QStringLiteral("it is larger than 1 MiB"));
    }
    return bytes;
}

// Every file SaveToFile writes has a [Root] section with the server in it.
// Without them the file is some other file or one cut short, and its defaults
// would have the run connect to a server that the user never chose.
void checkIsProjectFile(const IniDocument& document, const QString& fileName) {
    const QString root = IniRootSection.toString();
    if (!document.hasSection(root)) {
        throwNotAProject(fileName, QStringLiteral("it has no [Root] section"));
    }
    if (!document.hasKey(root, QStringLiteral("Server"))) {
        throwNotAProject(fileName, QStringLiteral("its [Root] section has no Server (the file may be cut short)"));
    }
}

// The value of field in store, or the value of a file without it.
SettingValue readSetting(tinidatasaver& store, const SettingField& field) {
    const QString key = QString::fromLatin1(field.key);
    switch (field.kind) {
    case SettingKind::Text: {
        const QString value = store.ReadString(key, std::get<QString>(field.whenAbsent));
        return field.trimmedOnLoad ? trimBlanksAndControls(value) : value;
    }
    case SettingKind::Integer:
    case SettingKind::Boolean:
        return store.ReadInteger(key, std::get<qint32>(field.whenAbsent));
    case SettingKind::ScrambledPassword:
        return UnscramblePassword(store.ReadString(key, std::get<QString>(field.whenAbsent)));
    }
    return field.whenAbsent;
}

void writeSetting(tinidatasaver& store, const SettingField& field, const SettingValue& value) {
    const QString key = QString::fromLatin1(field.key);
    switch (field.kind) {
    case SettingKind::Text:
        store.WriteString(key, std::get<QString>(value));
        return;
    case SettingKind::Integer:
    case SettingKind::Boolean:
        store.WriteInteger(key, std::get<qint32>(value));
        return;
    case SettingKind::ScrambledPassword:
        store.WriteString(key, ScramblePassword(std::get<QString>(value)));
        return;
    }
}

} // namespace

QString ScramblePassword(const QString& password, int key) {
    const QByteArray bytes = passwordBytes(password);
    const int length = int(bytes.size());
    const QByteArray text = paddedText(bytes);

    WorkBuffer buffer{};
    std::copy_n(text.constBegin(), std::min<qsizetype>(text.size(), MaxPasswordBytes), buffer.begin() + 1);
    buffer[0] = quint8(length);

    const int covered = std::max(length % 2 == 1 ? length + 1 : length + 2, MinCoveredBytes);
    QString digits;
    digits.reserve(covered / 2 * GroupDigits);
    for (int i = 0; i < covered / 2; ++i) {
        const int pair = buffer[size_t(2 * i)] + 256 * buffer[size_t(2 * i + 1)];
        digits += QStringLiteral("%1").arg(pair + key, GroupDigits, 10, QChar(u'0'));
    }
    return digits;
}

QString UnscramblePassword(const QString& text, int key) {
    constexpr int InitialFilled = 36;
    WorkBuffer buffer{};
    buffer[0] = InitialFilled - 1;
    std::fill_n(buffer.begin() + 1, InitialFilled - 1, quint8(' '));

    int filled = InitialFilled;
    for (qsizetype start = 0, group = 0; start < text.size(); start += GroupDigits, ++group) {
        const QString digits = text.mid(start, GroupDigits);
        bool ok = false;
        const int number = digits.toInt(&ok, 10);
        if (!ok) {
            throw VellisyncError(QStringLiteral("'%1' is not a valid integer value").arg(digits));
        }
        // A damaged or foreign text may hold more groups than the buffer has
        // pairs: the excess is checked like the rest but has nowhere to go.
        if (2 * group + 1 >= BufferSize) {
            continue;
        }
        const quint16 pair = quint16(number - key);
        buffer[size_t(2 * group)] = quint8(pair & 0xFF);
        buffer[size_t(2 * group + 1)] = quint8(pair >> 8);
        filled = std::max(filled, int(2 * group + 2));
    }

    // A length beyond the bytes the text (or the initial blanks) filled can only
    // come from a damaged file: the password is cut to the filled bytes rather
    // than padded with bytes that nothing put there.
    const int length = std::min<int>(buffer[0], filled - 1);
    return QString::fromUtf8(reinterpret_cast<const char*>(buffer.data() + 1), length);
}

bool loadProjectSettings(const QString& fileName, ProjectSettings& settings) {
    IniDocument document;
    document.setText(readProjectFile(fileName));
    checkIsProjectFile(document, fileName);
    tinidatasaver store;
    store.SetFileName(fileName);
    if (!store.LoadFromDocument(document)) {
        return false;
    }
    for (const SettingField& field : projectSettingFields()) {
        setSettingValue(field, settings, readSetting(store, field));
    }
    // The keyring holds the password; whatever the file says is not it.
    if (settings.passwordInKeyring()) {
        settings.Password.clear();
    }
    return true;
}

void saveProjectSettings(const QString& fileName, const ProjectSettings& settings) {
    tinidatasaver store;
    store.SetFileName(fileName);
    // The folder holds passwords: any level created here is for its owner only.
    ForceFolders(passwordFileFolder(fileName), OwnerOnlyFolder);
    for (const SettingField& field : projectSettingFields()) {
        const SettingValue value = settingValue(field, settings);
        if (field.storedOnlyWhenChanged && value == field.whenAbsent) {
            continue;
        }
        if (field.kind == SettingKind::ScrambledPassword && settings.passwordInKeyring()) {
            continue; // the password went to the keyring, not into the file
        }
        writeSetting(store, field, value);
    }
    store.Save();
}
