#include "model/ProjectSettings.h"

#include <type_traits>

namespace {

using PS = ProjectSettings;
using enum SettingKind;

// A choice as the number it is stored as.
template <typename Enum> constexpr qint32 number(Enum value) {
    return qint32(value);
}

QString text(const char* value) {
    return QString::fromUtf8(value);
}

QString syncModeText(const ProjectSettings& settings) {
    // A file may carry any mode number; only 0 to 2 have names, and the run
    // transfers nothing for the others, so the review says exactly that.
    if (setting::isKnown(settings.SyncMode))
        return PS::SyncModeNames[size_t(settings.SyncMode)];
    return QStringLiteral("Unknown (%1), nothing is transferred").arg(quint8(settings.SyncMode));
}

QString encryptionText(const ProjectSettings& settings) {
    if (setting::isKnown(settings.Encryption))
        return PS::EncryptionNames[size_t(settings.Encryption)];
    return QStringLiteral("Unknown (%1), no connection is made").arg(qint32(settings.Encryption));
}

QString conflictsText(const ProjectSettings& settings) {
    switch (settings.Conflicts) {
    case setting::Conflicts::KeepBoth:
        return QStringLiteral("Keep both versions");
    case setting::Conflicts::Skip:
        return QStringLiteral("Skip the file");
    }
    return QStringLiteral("Keep both versions (%1)").arg(qint32(settings.Conflicts));
}

QString connectionsText(const ProjectSettings& settings) {
    const bool activeLimitsToOne = !settings.Passive && settings.Connections > 1;
    return QString::number(settings.Connections) +
           (activeLimitsToOne ? QStringLiteral(" (active mode uses one)") : QString());
}

// The review text of a value without a function of its own.
QString plainReviewText(SettingKind kind, const SettingValue& value) {
    if (kind == Boolean)
        return std::get<qint32>(value) != 0 ? QStringLiteral("Yes") : QStringLiteral("No");
    if (const auto* number = std::get_if<qint32>(&value))
        return QString::number(*number);
    return std::get<QString>(value);
}

// clang-format off
const std::array<SettingField, 24> fields = {{
    // key, kind, member, new project, file without the key, stored only when changed, trimmed on load,
    // review group, label, shown, value text
    {"Caption", Text, &PS::Caption, text("<No Caption>"), text("<No Caption>"), false, false,
     ReviewGroup::None, nullptr, ReviewShown::Always, nullptr},
    {"Server", Text, &PS::Server, text("ftp.example.com"), text("localhost"), false, false,
     ReviewGroup::Server, "Host", ReviewShown::Always, nullptr},
    {"Port", Integer, &PS::Port, 21, 21, false, false,
     ReviewGroup::Server, "Port", ReviewShown::Always, nullptr},
    {"UserName", Text, &PS::UserName, text("anonymous"), text("anonymous"), false, false,
     ReviewGroup::Server, "User name", ReviewShown::Always, nullptr},
    {"Password", ScrambledPassword, &PS::Password, text("guest@example.com"), QString(), false, false,
     ReviewGroup::None, nullptr, ReviewShown::Always, nullptr},
    {"PasswordStore", Text, &PS::PasswordStore, QString(), QString(), true, false,
     ReviewGroup::None, nullptr, ReviewShown::Always, nullptr},
    {"KeyringEntry", Text, &PS::KeyringEntry, QString(), QString(), true, false,
     ReviewGroup::None, nullptr, ReviewShown::Always, nullptr},
    {"Passive", Boolean, &PS::Passive, 0, 0, false, false,
     ReviewGroup::Server, "Passive mode", ReviewShown::Always, nullptr},
    {"Encryption", Integer, &PS::Encryption, number(PS::NewProjectEncryption), number(PS::DefaultEncryption),
     true, false,
     ReviewGroup::Server, "Encryption", ReviewShown::WhenChanged, encryptionText},
    {"TrustedCertificate", Text, &PS::TrustedCertificate, QString(), QString(), true, false,
     ReviewGroup::Server, "Trusted certificate", ReviewShown::WhenChanged, nullptr},
    {"Connections", Integer, &PS::Connections, PS::DefaultConnections, PS::DefaultConnections, true, false,
     ReviewGroup::Server, "Simultaneous connections", ReviewShown::WhenChanged, connectionsText},
    {"ListingTimeZone", Text, &PS::ListingTimeZone, QString(), QString(), true, false,
     ReviewGroup::Server, "Server lists times in", ReviewShown::WhenChanged, nullptr},
    {"RemoteFolder", Text, &PS::RemoteFolder, text("/"), text("/"), false, false,
     ReviewGroup::Folders, "Remote folder", ReviewShown::Always, nullptr},
    {"LocalFolder", Text, &PS::LocalFolder, QString(), QString(), false, false,
     ReviewGroup::Folders, "Local folder", ReviewShown::Always, nullptr},
    {"SyncMode", Integer, &PS::SyncMode, number(setting::SyncMode::Bidirectional),
     number(setting::SyncMode::Bidirectional), false, false,
     ReviewGroup::Folders, "Mode", ReviewShown::Always, syncModeText},
    {"SubFilders", Boolean, &PS::SubFilders, 0, 0, false, false,
     ReviewGroup::Folders, "With subfolders", ReviewShown::Always, nullptr},
    {"Exact", Boolean, &PS::Exact, 0, 0, false, false,
     ReviewGroup::Folders, "Exact copy", ReviewShown::ForOneWayModes, nullptr},
    {"Conflicts", Integer, &PS::Conflicts, number(setting::Conflicts::KeepBoth), number(setting::Conflicts::KeepBoth),
     true, false,
     ReviewGroup::Folders, "Changed on both sides", ReviewShown::WhenChanged, conflictsText},
    {"IncludeMasks", Text, &PS::IncludeMasks, text("*.*"), text("*.*"), false, false,
     ReviewGroup::Masks, "Include files", ReviewShown::Always, nullptr},
    {"ExcludeMasks", Text, &PS::ExcludeMasks, QString(), QString(), false, false,
     ReviewGroup::Masks, "Exclude files", ReviewShown::WhenChanged, nullptr},
    {"UseProxy", Boolean, &PS::UseProxy, 0, 0, false, false,
     ReviewGroup::None, nullptr, ReviewShown::Always, nullptr},
    {"ProxyKind", Integer, &PS::ProxyKind, number(setting::ProxyKind::Ftp), number(setting::ProxyKind::Ftp),
     false, false,
     ReviewGroup::None, nullptr, ReviewShown::Always, nullptr},
    {"ProxyServer", Text, &PS::ProxyServer, QString(), QString(), false, true,
     ReviewGroup::None, nullptr, ReviewShown::Always, nullptr},
    {"ProxyPort", Integer, &PS::ProxyPort, 21, 21, false, false,
     ReviewGroup::None, nullptr, ReviewShown::Always, nullptr},
}};
// clang-format on

// What opens a group of lines in the review: the server's a title, the others an empty line.
QString groupOpening(ReviewGroup group) {
    return group == ReviewGroup::Server ? QStringLiteral("FTP server\r\n") : QStringLiteral("\r\n");
}

bool isShown(const SettingField& field, const ProjectSettings& settings) {
    switch (field.reviewShown) {
    case ReviewShown::Always:
        return true;
    case ReviewShown::WhenChanged:
        return settingValue(field, settings) != field.whenAbsent;
    case ReviewShown::ForOneWayModes:
        return settings.SyncMode != setting::SyncMode::Bidirectional;
    }
    return true;
}

} // namespace

std::span<const SettingField> projectSettingFields() {
    return fields;
}

SettingValue settingValue(const SettingField& field, const ProjectSettings& settings) {
    return std::visit(
        [&](auto member) -> SettingValue {
            const auto& value = settings.*member;
            using T = std::remove_cvref_t<decltype(value)>;
            if constexpr (std::is_same_v<T, QString>)
                return value;
            else
                return qint32(value);
        },
        field.member);
}

void setSettingValue(const SettingField& field, ProjectSettings& settings, const SettingValue& value) {
    std::visit(
        [&](auto member) {
            auto& target = settings.*member;
            using T = std::remove_cvref_t<decltype(target)>;
            if constexpr (std::is_same_v<T, QString>)
                target = std::get<QString>(value);
            else if constexpr (std::is_same_v<T, bool>)
                target = std::get<qint32>(value) != 0;
            else if constexpr (std::is_enum_v<T>)
                target = T(std::underlying_type_t<T>(std::get<qint32>(value))); // SyncMode: the low byte
            else
                target = std::get<qint32>(value);
        },
        field.member);
}

ProjectSettings newProjectSettings() {
    ProjectSettings settings;
    for (const SettingField& field : fields)
        setSettingValue(field, settings, field.newProject);
    return settings;
}

QString projectReviewText(const ProjectSettings& settings) {
    QString review;
    ReviewGroup group = ReviewGroup::None;
    for (const SettingField& field : fields) {
        if (field.reviewGroup == ReviewGroup::None || !isShown(field, settings))
            continue;
        if (field.reviewGroup != group) {
            group = field.reviewGroup;
            review += groupOpening(group);
        }
        const QString value = field.reviewValue ? field.reviewValue(settings)
                                                : plainReviewText(field.kind, settingValue(field, settings));
        review += QStringLiteral("%1: %2\r\n").arg(QString::fromUtf8(field.reviewLabel), value);
    }
    return review;
}
