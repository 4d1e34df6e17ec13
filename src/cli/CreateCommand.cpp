// The runner's create command: a new project from options, stored under its caption.
#include "cli/CommandSupport.h"

#include <QFileInfo>
#include <QHostAddress>

#include "cli/CommandLine.h"
#include "model/Errors.h"
#include "model/Global.h"
#include "project/VellisyncProject.h"
#include "sync/Masks.h"
#include "sync/ServerTimes.h"

namespace cli {

namespace {

bool hasControlCharacter(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

bool isHostNameLabel(const QString& label) {
    if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
        return false;
    return std::all_of(label.cbegin(), label.cend(),
                       [](QChar c) { return c.isLetterOrNumber() || c == u'-' || c == u'_'; });
}

// An IP address (IPv6 bare or in brackets) or a name made of dot-separated
// labels. Digits and dots alone are an address or nothing: "1.2.3.400" is not
// taken for a name.
bool isPlausibleHost(const QString& host) {
    const bool blankOrControl = std::any_of(
        host.cbegin(), host.cend(), [](QChar c) { return c.isSpace() || c.category() == QChar::Other_Control; });
    if (host.isEmpty() || blankOrControl)
        return false;
    if (host.startsWith(u'[') && host.endsWith(u']'))
        return QHostAddress(host.mid(1, host.size() - 2)).protocol() == QAbstractSocket::IPv6Protocol;
    if (!QHostAddress(host).isNull())
        return true;
    const QString name = host.endsWith(u'.') ? host.chopped(1) : host;
    if (name.isEmpty() || name.size() > 253)
        return false;
    const QStringList labels = name.split(u'.');
    const QString& last = labels.constLast();
    return std::all_of(labels.cbegin(), labels.cend(), isHostNameLabel) &&
           !std::all_of(last.cbegin(), last.cend(), [](QChar c) { return c.isDigit(); });
}

// The message for the first invalid mask of text, or an empty one.
QString invalidMasksMessage(const QString& option, const QString& text) {
    try {
        CheckMaskList(ParseMaskList(text));
    } catch (const VellisyncError& error) {
        return QStringLiteral("option '%1': %2").arg(option, error.message());
    }
    return {};
}

// Parses "--option value" and "--flag" arguments of create into the project,
// checking each value: a host, folders and names reach the server or the
// file system, so control characters (a CR LF would end an FTP command) are
// refused, and masks are checked now rather than at the first name of a run.
bool applyCreateOptions(const QStringList& arguments, TVellisyncProject& project, QString& error) {
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& option = arguments.at(i);
        auto value = [&](QString& target) { return takeValue(arguments, i, target, error); };
        auto plainText = [&](QString& target) {
            if (!value(target))
                return false;
            if (hasControlCharacter(target)) {
                error = QStringLiteral("option '%1' must not hold control characters").arg(option);
                return false;
            }
            return true;
        };
        auto host = [&](QString& target) {
            if (!value(target))
                return false;
            if (!isPlausibleHost(target)) {
                error = QStringLiteral("option '%1' needs a host name or IP address, not '%2'").arg(option, target);
                return false;
            }
            // The connection takes an IPv6 address bare; brackets are only how it is written.
            if (target.startsWith(u'['))
                target = target.mid(1, target.size() - 2);
            return true;
        };
        auto masks = [&](QString& target) {
            if (!value(target))
                return false;
            error = invalidMasksMessage(option, target);
            return error.isEmpty();
        };
        auto number = [&](int low, int high, auto setter) {
            QString text;
            if (!value(text))
                return false;
            const std::optional<int> n = numberIn(option, text, low, high, error);
            if (n)
                (project.*setter)(*n);
            return n.has_value();
        };
        QString text;
        bool ok = true;
        if (option == QLatin1String("--server"))
            ok = host(text) && (project.SetServer(text), true);
        else if (option == QLatin1String("--port"))
            ok = number(1, 65535, &TVellisyncProject::SetPort);
        else if (option == QLatin1String("--user"))
            ok = plainText(text) && (project.SetUserName(text), true);
        else if (option == QLatin1String("--password-stdin")) {
            QTextStream in(stdin);
            project.SetPassword(in.readLine());
        } else if (option == QLatin1String("--passive"))
            project.SetPassive(true);
        else if (option == QLatin1String("--remote"))
            ok = plainText(text) && (project.SetRemoteFolder(text), true);
        else if (option == QLatin1String("--local"))
            ok = plainText(text) && (project.SetLocalFolder(QFileInfo(text).absoluteFilePath()), true);
        else if (option == QLatin1String("--mode")) {
            // In the order of the modes' numbers.
            static const QStringList modes{QStringLiteral("upload"), QStringLiteral("download"),
                                           QStringLiteral("both")};
            ok = value(text);
            if (ok && !modes.contains(text)) {
                error = QStringLiteral("--mode is upload, download or both");
                ok = false;
            }
            if (ok)
                project.SetSyncMode(setting::SyncMode(modes.indexOf(text)));
        } else if (option == QLatin1String("--subfolders"))
            project.SetSubFilders(true);
        else if (option == QLatin1String("--exact"))
            project.SetExact(true);
        else if (option == QLatin1String("--include"))
            ok = masks(text) && (project.SetIncludeMasks(text), true);
        else if (option == QLatin1String("--exclude"))
            ok = masks(text) && (project.SetExcludeMasks(text), true);
        else if (option == QLatin1String("--proxy")) {
            ok = value(text);
            if (ok && text != QLatin1String("ftp") && text != QLatin1String("socks")) {
                error = QStringLiteral("--proxy is ftp or socks");
                ok = false;
            }
            if (ok) {
                project.SetUseProxy(true);
                project.SetProxyKind(text == QLatin1String("ftp") ? setting::ProxyKind::Ftp
                                                                  : setting::ProxyKind::Socks);
            }
        } else if (option == QLatin1String("--proxy-host"))
            ok = plainText(text) && (project.SetProxyServer(text), true);
        else if (option == QLatin1String("--proxy-port"))
            ok = number(0, 65535, &TVellisyncProject::SetProxyPort);
        else if (option == QLatin1String("--connections"))
            ok = number(LowestConnections, TVellisyncProject::MaxConnections, &TVellisyncProject::SetConnections);
        else if (option == QLatin1String("--listing-zone")) {
            ok = value(text) && engine::parseZoneOffset(text).has_value();
            if (ok)
                project.SetListingTimeZone(text);
            else if (!text.isEmpty())
                error = QStringLiteral("--listing-zone is UTC or an offset such as +01:00 or -05:30");
        } else if (option == QLatin1String("--encryption")) {
            // In the order of the settings' numbers.
            static const QStringList choices{QStringLiteral("none"), QStringLiteral("explicit"),
                                             QStringLiteral("require"), QStringLiteral("implicit")};
            ok = value(text);
            if (ok && !choices.contains(text)) {
                error = QStringLiteral("--encryption is none, explicit, require or implicit");
                ok = false;
            }
            if (ok)
                project.SetEncryption(setting::Encryption(choices.indexOf(text)));
        } else if (option == QLatin1String("--on-conflict")) {
            // In the order of the settings' numbers; local and remote hold
            // for one run only and are never stored.
            static const QStringList choices{QStringLiteral("keep-both"), QStringLiteral("skip")};
            ok = value(text);
            if (ok && !choices.contains(text)) {
                error = QStringLiteral("--on-conflict of create is keep-both or skip");
                ok = false;
            }
            if (ok)
                project.SetConflicts(setting::Conflicts(choices.indexOf(text)));
        } else if (option == QLatin1String("--trust-fingerprint")) {
            ok = value(text);
            if (ok && (text.trimmed().isEmpty() || !project.SetTrustedCertificate(text))) {
                error = QStringLiteral("--trust-fingerprint needs a SHA-256 fingerprint: 64 hex digits, colons "
                                       "optional");
                ok = false;
            }
        } else {
            error = QStringLiteral("unknown option '%1' for create").arg(option);
            ok = false;
        }
        if (!ok) {
            if (error.isEmpty())
                error = QStringLiteral("option '%1' needs a value").arg(option);
            return false;
        }
    }
    return true;
}

} // namespace

int createProject(const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.front().startsWith(QLatin1String("--")))
        return usageError(QStringLiteral("create needs a CAPTION first"));
    const QString caption = arguments.front();
    TVellisyncProject project;
    project.SetDefaults();
    project.SetCaption(caption);
    QString error;
    if (!applyCreateOptions(arguments.mid(1), project, error))
        return usageError(error);
    // Both folders are named on purpose: a default could point a scheduled
    // exact copy at a folder nobody meant.
    for (const QLatin1String required : {QLatin1String("--local"), QLatin1String("--remote")}) {
        if (!arguments.contains(required))
            return usageError(QStringLiteral("create needs %1 FOLDER").arg(required));
    }
    // Implicit TLS has a port of its own; a port given on purpose stays.
    if (project.Encryption == TVellisyncProject::ImplicitEncryption && !arguments.contains(QLatin1String("--port")))
        project.SetPort(TVellisyncProject::ImplicitTlsPort);

    const std::vector<StoredProject> existing = projectsWithCaption(caption);
    if (existing.size() > 1) {
        QString message = QStringLiteral("the caption '%1' is ambiguous; it matches:").arg(caption);
        for (const StoredProject& match : existing)
            message += QStringLiteral("\n  %1\t%2").arg(match.caption, match.file);
        return failure(message);
    }
    const QString file = existing.empty() ? AddTrailingBackslash(ProjectsFolder) +
                                                UniqueFileName(ProjectsFolder, QStringLiteral("%s.VSPJ"))
                                          : existing.front().file;
    try {
        project.SaveToFile(file);
    } catch (const VellisyncError& saveError) {
        return failure(saveError.message());
    }
    out() << file << Qt::endl;
    return ExitSuccess;
}

} // namespace cli
