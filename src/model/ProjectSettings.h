#pragma once

#include <QString>

#include <array>
#include <span>
#include <variant>

// The settings that choose one of a few behaviours. Each is stored as its
// number, and a file may hold any other: such a number is kept as it is, and
// the code that acts on the setting refuses it or does nothing with it.
namespace setting {

// What a run copies where.
enum class SyncMode : quint8 {
    LocalToRemote = 0,
    RemoteToLocal = 1,
    Bidirectional = 2,
};

// How the connection protects itself with TLS.
enum class Encryption : qint32 {
    None = 0,              // plain FTP
    ExplicitIfOffered = 1, // AUTH TLS when the server offers it
    ExplicitRequired = 2,  // AUTH TLS, or no logon
    Implicit = 3,          // TLS from the first byte
};

// The kind of proxy the connection goes through, when it uses one.
enum class ProxyKind : qint32 {
    Ftp = 0,
    Socks = 1,
};

// What a two-way run does with a file changed on both sides since the last
// run: keep both versions (the newer under the name, the other beside it in
// the local folder) or leave both sides alone and say so.
enum class Conflicts : qint32 {
    KeepBoth = 0,
    Skip = 1,
};

constexpr bool isKnown(SyncMode mode) {
    return quint8(mode) <= quint8(SyncMode::Bidirectional);
}

constexpr bool isKnown(Encryption encryption) {
    return qint32(encryption) >= qint32(Encryption::None) && qint32(encryption) <= qint32(Encryption::Implicit);
}

} // namespace setting

// What one synchronisation job stores: the settings of a project file, named
// as their file keys. A value: a run takes a copy when it starts, so the
// window can go on editing the project while the run reads its own. What each
// setting is in the file, in a new project and in the review is said once, in
// the table of projectSettingFields().
struct ProjectSettings {
    // Display names of the synchronisation modes, indexed by SyncMode.
    inline static const std::array<QString, 3> SyncModeNames = {
        QStringLiteral("Local -> Remote"),
        QStringLiteral("Remote -> Local"),
        QStringLiteral("Bidirectional"),
    };
    // Display names of the Encryption settings, indexed by their number.
    inline static const std::array<QString, 4> EncryptionNames = {
        QStringLiteral("None (plain FTP)"),
        QStringLiteral("Explicit TLS when the server offers it"),
        QStringLiteral("Explicit TLS required"),
        QStringLiteral("Implicit TLS"),
    };
    // The ports a connection can use: a server port from 1, a proxy port from 0.
    static constexpr qint32 LowestServerPort = 1;
    static constexpr qint32 LowestProxyPort = 0;
    static constexpr qint32 HighestPort = 65535;

    bool SubFilders = false;
    qint32 Port = 0;
    QString Password;
    QString LocalFolder;
    QString RemoteFolder;
    QString Server;
    QString UserName;
    setting::SyncMode SyncMode = setting::SyncMode::LocalToRemote;
    bool Passive = false;
    bool Exact = false;
    QString IncludeMasks;
    QString ExcludeMasks;
    QString Caption;
    bool UseProxy = false;
    qint32 ProxyPort = 0;
    setting::ProxyKind ProxyKind = setting::ProxyKind::Ftp;
    QString ProxyServer;
    // How many connections a run may use at once. Stored only when it is not
    // the default, so older files and files that leave it alone stay as they were.
    static constexpr qint32 DefaultConnections = 4;
    static constexpr qint32 MaxConnections = 16;
    qint32 Connections = DefaultConnections;
    // The zone of the server's LIST times ("UTC", "+01:00"), for servers whose
    // MDTM cannot be trusted to teach it; empty: learnt on each run.
    QString ListingTimeZone;
    // A file without the key has no encryption (as stored projects always
    // behaved); a new project starts with explicit TLS when offered. Stored
    // only when not None.
    static constexpr setting::Encryption DefaultEncryption = setting::Encryption::None;
    static constexpr setting::Encryption NewProjectEncryption = setting::Encryption::ExplicitIfOffered;
    static constexpr setting::Encryption ImplicitEncryption = setting::Encryption::Implicit;
    static constexpr qint32 ImplicitTlsPort = 990;
    setting::Encryption Encryption = DefaultEncryption;
    // The SHA-256 fingerprint of a server certificate the user trusts for
    // this project ("AB:CD:..."); stored only when set.
    QString TrustedCertificate;
    // Two-way runs: what a file changed on both sides gets. Stored only when
    // not the default; a number that names no choice keeps both versions.
    setting::Conflicts Conflicts = setting::Conflicts::KeepBoth;
    // Where the password lives: empty (a file without the key), the file,
    // scrambled; KeyringPasswordStore, the desktop keyring under the entry
    // KeyringEntry, and the file holds no password. Both stored only when set.
    inline static const QString KeyringPasswordStore = QStringLiteral("Keyring");
    QString PasswordStore;
    QString KeyringEntry;

    // True when the password belongs in the desktop keyring, not in the file.
    bool passwordInKeyring() const { return PasswordStore.compare(KeyringPasswordStore, Qt::CaseInsensitive) == 0; }

    friend bool operator==(const ProjectSettings&, const ProjectSettings&) = default;
};

// How a setting is kept in the project file.
enum class SettingKind {
    Text,             // STRING, as it is
    Integer,          // INTEGER
    Boolean,          // INTEGER, 0 or 1; any other number reads as true
    ScrambledPassword // STRING of digit groups (ScramblePassword)
};

// A setting's value as the table speaks of it: a number (a boolean as 0 or 1)
// or a text.
using SettingValue = std::variant<qint32, QString>;

// The field of ProjectSettings that a row reads and writes.
using SettingMember = std::variant<QString ProjectSettings::*, qint32 ProjectSettings::*, bool ProjectSettings::*,
                                   setting::SyncMode ProjectSettings::*, setting::Encryption ProjectSettings::*,
                                   setting::ProxyKind ProjectSettings::*, setting::Conflicts ProjectSettings::*>;

// Where a setting appears in the review text, in table order within its group.
enum class ReviewGroup { None, Server, Folders, Masks };

// When a setting's line appears in the review text.
enum class ReviewShown {
    Always,
    WhenChanged,   // only when it differs from the value of a file without it
    ForOneWayModes // only when the mode copies one way (the exact copy)
};

// One stored setting: its file key (in section [Root]), how it is kept, its
// values for a new project and for a file that lacks it, and its review line.
struct SettingField {
    const char* key;
    SettingKind kind;
    SettingMember member;
    SettingValue newProject;
    // The value a file without the key loads as; for the password, the stored
    // text (an empty one unscrambles to 35 spaces).
    SettingValue whenAbsent;
    // Written only when it differs from whenAbsent: settings that came later,
    // so a project that leaves them alone is stored as it always was.
    bool storedOnlyWhenChanged;
    // A file's text passes through trimBlanksAndControls on load, as the
    // setter would have it.
    bool trimmedOnLoad;
    ReviewGroup reviewGroup;
    const char* reviewLabel; // null when not reviewed
    ReviewShown reviewShown;
    // The review's text of the value, when the plain number or text is not it.
    QString (*reviewValue)(const ProjectSettings&);
};

// Every stored setting, in the order of the review text (and of loading).
std::span<const SettingField> projectSettingFields();

// The value of field in settings: a boolean as 0 or 1, the password in plain text.
SettingValue settingValue(const SettingField& field, const ProjectSettings& settings);
// Sets field in settings from value; SyncMode keeps the low byte of the number,
// and a number that names no choice is kept as it is.
void setSettingValue(const SettingField& field, ProjectSettings& settings, const SettingValue& value);

// The settings of a new project.
ProjectSettings newProjectSettings();

// The review page's summary of settings, lines ended by CR LF. Leaves out the
// caption, the password and the proxy.
QString projectReviewText(const ProjectSettings& settings);
