#include "model/ProjectFile.h"

#include <algorithm>
#include <array>
#include <chrono>

#include <QFile>
#include <QFileInfo>

#include "model/Errors.h"
#include "model/Global.h"
#include "model/IniSaver.h"
#include "project/VellisyncProject.h"

namespace {

constexpr int BufferSize = 256;
constexpr int MaxPasswordBytes = BufferSize - 1;
constexpr int GroupDigits = 5;
constexpr int MinCoveredBytes = 10;

// A project file holds seventeen short settings; a file many times that size
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

bool TVellisyncProject::LoadFromFile(const QString& fileName) {
    FileName = fileName;
    IniDocument document;
    document.setText(readProjectFile(fileName));
    checkIsProjectFile(document, fileName);
    tinidatasaver store;
    store.SetFileName(fileName);
    if (!store.LoadFromDocument(document)) {
        return false;
    }

    Caption = store.ReadString(QStringLiteral("Caption"), QStringLiteral("<No Caption>"));
    Server = store.ReadString(QStringLiteral("Server"), QStringLiteral("localhost"));
    Port = store.ReadInteger(QStringLiteral("Port"), 21);
    UserName = store.ReadString(QStringLiteral("UserName"), QStringLiteral("anonymous"));
    Password = UnscramblePassword(store.ReadString(QStringLiteral("Password"), QString()));
    Passive = store.ReadInteger(QStringLiteral("Passive"), 0) != 0;
    RemoteFolder = store.ReadString(QStringLiteral("RemoteFolder"), QStringLiteral("/"));
    LocalFolder = store.ReadString(QStringLiteral("LocalFolder"), QString());
    SyncMode = quint8(store.ReadInteger(QStringLiteral("SyncMode"), 2) & 0xFF);
    SubFilders = store.ReadInteger(QStringLiteral("SubFilders"), 0) != 0;
    Exact = store.ReadInteger(QStringLiteral("Exact"), 0) != 0;
    IncludeMasks = store.ReadString(QStringLiteral("IncludeMasks"), QStringLiteral("*.*"));
    ExcludeMasks = store.ReadString(QStringLiteral("ExcludeMasks"), QString());
    SetUseProxy(store.ReadInteger(QStringLiteral("UseProxy"), 0) != 0);
    SetProxyKind(store.ReadInteger(QStringLiteral("ProxyKind"), 0));
    SetProxyServer(store.ReadString(QStringLiteral("ProxyServer"), QString()));
    SetProxyPort(store.ReadInteger(QStringLiteral("ProxyPort"), 21));
    Connections = store.ReadInteger(QStringLiteral("Connections"), DefaultConnections);
    ListingTimeZone = store.ReadString(QStringLiteral("ListingTimeZone"), QString());
    Encryption = store.ReadInteger(QStringLiteral("Encryption"), DefaultEncryption);
    TrustedCertificate = store.ReadString(QStringLiteral("TrustedCertificate"), QString());

    Modified = false;
    return true;
}

bool TVellisyncProject::SaveToFile(const QString& fileName) {
    tinidatasaver store;
    store.SetFileName(fileName);
    // The folder holds passwords: any level created here is for its owner only.
    ForceFolders(passwordFileFolder(fileName), OwnerOnlyFolder);

    store.WriteString(QStringLiteral("Caption"), Caption);
    store.WriteString(QStringLiteral("Server"), Server);
    store.WriteInteger(QStringLiteral("Port"), Port);
    store.WriteString(QStringLiteral("UserName"), UserName);
    store.WriteString(QStringLiteral("Password"), ScramblePassword(Password));
    store.WriteInteger(QStringLiteral("Passive"), Passive ? 1 : 0);
    store.WriteString(QStringLiteral("RemoteFolder"), RemoteFolder);
    store.WriteString(QStringLiteral("LocalFolder"), LocalFolder);
    store.WriteInteger(QStringLiteral("SyncMode"), SyncMode);
    store.WriteInteger(QStringLiteral("SubFilders"), SubFilders ? 1 : 0);
    store.WriteInteger(QStringLiteral("Exact"), Exact ? 1 : 0);
    store.WriteString(QStringLiteral("IncludeMasks"), IncludeMasks);
    store.WriteString(QStringLiteral("ExcludeMasks"), ExcludeMasks);
    store.WriteInteger(QStringLiteral("UseProxy"), UseProxy ? 1 : 0);
    store.WriteInteger(QStringLiteral("ProxyKind"), ProxyKind);
    store.WriteString(QStringLiteral("ProxyServer"), ProxyServer);
    store.WriteInteger(QStringLiteral("ProxyPort"), ProxyPort);
    // Settings that came later are written only when they differ from their
    // default: a project that leaves them alone is stored as it always was.
    if (Connections != DefaultConnections)
        store.WriteInteger(QStringLiteral("Connections"), Connections);
    if (!ListingTimeZone.isEmpty())
        store.WriteString(QStringLiteral("ListingTimeZone"), ListingTimeZone);
    if (Encryption != DefaultEncryption)
        store.WriteInteger(QStringLiteral("Encryption"), Encryption);
    if (!TrustedCertificate.isEmpty())
        store.WriteString(QStringLiteral("TrustedCertificate"), TrustedCertificate);
    store.Save();

    Modified = false;
    return true;
}
