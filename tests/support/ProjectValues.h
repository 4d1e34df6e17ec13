#pragma once

#include <QString>
#include <QStringList>

#include "model/ProjectSettings.h"

// The stored settings as "Name=value" lines in the order of the table of
// settings (booleans as 0 or 1, the password in plain text), so one comparison
// checks them all and a failure shows every difference at once.
inline QStringList settingsOf(const ProjectSettings& settings) {
    QStringList lines;
    for (const SettingField& field : projectSettingFields()) {
        const SettingValue value = settingValue(field, settings);
        const auto* number = std::get_if<qint32>(&value);
        lines << QString::fromLatin1(field.key) + u'=' + (number ? QString::number(*number) : std::get<QString>(value));
    }
    return lines;
}
