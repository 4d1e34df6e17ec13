#pragma once

#include <QString>

#include <array>

// What one synchronisation job stores: the settings of a project file, named
// as their file keys. A value: a run takes a copy when it starts, so the
// window can go on editing the project while the run reads its own.
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
    quint8 SyncMode = 0;
    bool Passive = false;
    bool Exact = false;
    QString IncludeMasks;
    QString ExcludeMasks;
    QString Caption;
    bool UseProxy = false;
    qint32 ProxyPort = 0;
    qint32 ProxyKind = 0;
    QString ProxyServer;
    // How many connections a run may use at once. Stored only when it is not
    // the default, so older files and files that leave it alone stay as they were.
    static constexpr qint32 DefaultConnections = 4;
    static constexpr qint32 MaxConnections = 16;
    qint32 Connections = DefaultConnections;
    // The zone of the server's LIST times ("UTC", "+01:00"), for servers whose
    // MDTM cannot be trusted to teach it; empty: learnt on each run.
    QString ListingTimeZone;
    // TLS: 0 none, 1 explicit when the server offers it, 2 explicit required,
    // 3 implicit. A file without the key is 0 (as stored projects always
    // behaved); a new project starts with 1. Stored only when not 0.
    static constexpr qint32 DefaultEncryption = 0;
    static constexpr qint32 NewProjectEncryption = 1;
    static constexpr qint32 ImplicitEncryption = 3;
    static constexpr qint32 ImplicitTlsPort = 990;
    qint32 Encryption = DefaultEncryption;
    // The SHA-256 fingerprint of a server certificate the user trusts for
    // this project ("AB:CD:..."); stored only when set.
    QString TrustedCertificate;

    friend bool operator==(const ProjectSettings&, const ProjectSettings&) = default;
};
