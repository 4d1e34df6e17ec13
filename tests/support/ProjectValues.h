#pragma once

#include <QString>
#include <QStringList>

#include "project/VellisyncProject.h"

// The seventeen stored settings as "Name=value" lines, so one comparison
// checks them all and a failure shows every difference at once.
inline QStringList settingsOf(const TVellisyncProject& p) {
    const auto flag = [](bool value) { return QString::number(int(value)); };
    return {"Caption=" + p.Caption,
            "Server=" + p.Server,
            "Port=" + QString::number(p.Port),
            "UserName=" + p.UserName,
            "Password=" + p.Password,
            "Passive=" + flag(p.Passive),
            "RemoteFolder=" + p.RemoteFolder,
            "LocalFolder=" + p.LocalFolder,
            "SyncMode=" + QString::number(p.SyncMode),
            "SubFilders=" + flag(p.SubFilders),
            "Exact=" + flag(p.Exact),
            "IncludeMasks=" + p.IncludeMasks,
            "ExcludeMasks=" + p.ExcludeMasks,
            "UseProxy=" + flag(p.UseProxy),
            "ProxyKind=" + QString::number(p.ProxyKind),
            "ProxyServer=" + p.ProxyServer,
            "ProxyPort=" + QString::number(p.ProxyPort)};
}
