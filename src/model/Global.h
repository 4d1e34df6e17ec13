#pragma once

#include <QFileDevice>
#include <QString>
#include <QStringList>
#include <QStringView>

// Full path of the per-user projects folder, without a trailing separator.
// Set by InitializeGlobals (project/CurrentProject.h) at start-up.
extern QString ProjectsFolder;

// Seeds the random generator from the clock and sets ProjectsFolder to
// DefaultProjectsFolder(); InitializeGlobals calls it.
void InitializeModelGlobals();

// The per-user projects folder: the generic data location followed by
// "Orvanta/VellisyncProjects" (~/.local/share/Orvanta/VellisyncProjects).
QString DefaultProjectsFolder();

// Name format of new project files, for UniqueFileName.
inline constexpr char ProjectFileNameFormat[] = "%s.VSPJ";

// Full paths of the project files directly in folder: every regular file whose
// extension is VSPJ in any letter case, sorted by name. Empty when the folder
// does not exist.
QStringList ProjectFilesIn(const QString& folder);

// text without leading and trailing characters with codes up to 32 (blanks
// and control characters); those inside are kept.
QString trimBlanksAndControls(const QString& text);

// The path ending in the path separator; an empty path stays empty.
QString AddTrailingBackslash(const QString& path);

// The path without one trailing backslash or slash. A path of one character
// is returned unchanged.
QString RemoveTrailingSlash(const QString& path);

// Creates folder with every missing parent. True when the folder exists
// afterwards or nothing had to be done; false when a level could not be
// created (nothing below it is attempted). Folders it creates get permissions
// (default: the process's umask decides).
bool ForceFolders(const QString& folder, QFileDevice::Permissions permissions = {});

// Permissions for folders and files that hold passwords (owner only).
inline constexpr QFileDevice::Permissions OwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// The default alphabet of RandomString: digits and upper-case letters, with
// 0 twice (so it is drawn twice as often).
inline constexpr char DefaultRandomAlphabet[] = "01234567890ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// count characters drawn uniformly from the positions of alphabet (an empty
// alphabet means the default one).
QString RandomString(int count, QStringView alphabet = {});

// A file name (without folder) made from format by putting eight random
// characters in place of its "%s", such that nothing of that name exists in
// folder at the time of the call.
QString UniqueFileName(const QString& folder, const QString& format);
