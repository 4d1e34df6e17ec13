#pragma once

#include <QString>

// The project file: LoadFromFile and SaveToFile are members of
// TVellisyncProject (project/VellisyncProject.h), defined in ProjectFile.cpp.

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
