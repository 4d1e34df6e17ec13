#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

#include <sys/types.h>

#include "sync/RelativeName.h"

class TListOfFiles;

// A relative name that the test knows to be valid (throws when it is not).
RelativeName relativeName(const QString& path);

// Runs action and returns the message of the VellisyncError it raises (empty
// when it raises none).
QString errorOf(const std::function<void()>& action);

// The whole content of the file, or "<unreadable>" when it cannot be read.
QByteArray readFile(const QString& path);

// Replaces the file's content, creating missing folders above it; a file that
// cannot be written fails the test (wrap the call in ASSERT_NO_FATAL_FAILURE
// to stop there).
void writeFile(const QString& path, const QByteArray& content);

// The permission bits of path; 0 when it cannot be examined.
mode_t modeOf(const QString& path);

// The names of a file list, sorted (the scans' order is the listing's).
QStringList sortedNames(const TListOfFiles& list);
