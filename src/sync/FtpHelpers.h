#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include "inet/FtpService.h"

// Helpers shared by everything that talks to the FTP service: error texts, the
// failure line, remote folder handling and the retry on time-out.

// A description of a service or system error code: the server's last reply
// (lastReply, without its trailing line break) for ErrorExtendedError, else
// the service's own text, else the system's, else "Unknown error %d (%s)"
// with eight hex digits.
QString ErrorText(int code, const QString& lastReply = {});
// ErrorText of the connection's last error and reply. Read it after the
// failed call, before another call on the connection replaces them.
QString LastErrorText(const inet::FtpConnection& connection);

// The one line in which a failed FTP operation is logged: "<label> fails with
// message: <LastErrorText>", of the connection that failed or of a failure
// that came back as a value (a logon, a session that could not be opened).
QString ftpFailureLine(const inet::FtpConnection& connection, const QString& label);
QString ftpFailureLine(const inet::Failure& failure, const QString& label);

// The connection's current remote folder; empty text when it cannot be read.
bool GetFtpCurrentDir(inet::FtpConnection& connection, QString& directory);
// Enters a folder (absolute, relative or ".."); an empty name succeeds at once
// without contacting the server.
bool SetFtpCurrentDir(inet::FtpConnection& connection, const QString& directory);
// The remote path followed by "/" unless it is empty or already ends with one.
QString IncludeTrailingSlash(const QString& path);

// Enters path and goes back to the folder it was in; true when it could.
bool RemoteFolderExists(inet::FtpConnection& connection, const QString& path);
// The levels of a remote path, split at "/"; a leading "/" stays with the
// first level.
void SplitRemotePath(const QString& path, QStringList& levels);
