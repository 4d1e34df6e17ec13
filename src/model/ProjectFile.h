#pragma once

#include <QString>

#include "model/ProjectSettings.h"

// The project file: an INI-form file whose [Root] section holds the settings
// of projectSettingFields(), one key each.

// Reads the settings of fileName into settings. False, with nothing taken, when
// the file holds an unknown type tag. Throws VellisyncError when the file is
// not a project file (missing, not a regular file, over 1 MiB, no [Root]
// section or no Server in it; nothing taken) and on storage errors, which
// leave the settings read before the failing one taken.
bool loadProjectSettings(const QString& fileName, ProjectSettings& settings);

// Writes settings to fileName, replacing the file atomically (mode 0600,
// folders created with 0700). Throws VellisyncError on storage errors.
void saveProjectSettings(const QString& fileName, const ProjectSettings& settings);

// The fixed key of the password scrambling, the same in both directions.
inline constexpr int PasswordKey = 9463;

// The password (UTF-8, at most 255 bytes; a longer one is cut at a character
// boundary) as groups of five decimal digits: 25 digits up to 9 bytes, at most
// 640. Padding bytes vary, so one password has many texts.
QString ScramblePassword(const QString& password, int key = PasswordKey);

// The password held by a scrambled text. An empty text gives 35 spaces.
// Throws VellisyncError "'%s' is not a valid integer value" for a group that
// is not a number; damaged texts never reach beyond the work buffer.
QString UnscramblePassword(const QString& text, int key = PasswordKey);
