#pragma once

#include <QString>

#include <memory>

#include "inet/FtpService.h"

// Helpers shared by everything that talks to the FTP service: error texts, the
// failure line, remote folder handling and the retry on time-out.

// A description of a service or system error code: the server's last reply for
// ErrorExtendedError (without its trailing line break), else the service's own
// text, else the system's, else "Unknown error %d (%s)" with eight hex digits.
QString ErrorText(int code);
// ErrorText of the calling thread's last error code. Read it right after the
// failed call, before anything else can change the code.
QString LastErrorText();

// The one line in which a failed FTP operation is logged: "<label> fails with
// message: <LastErrorText>". Call it right after the failed call.
QString ftpFailureLine(const QString& label);

// The connection's current remote folder; empty text when it cannot be read.
bool GetFtpCurrentDir(inet::FtpConnection& connection, QString& directory);
// Enters a folder (absolute, relative or ".."); an empty name succeeds at once
// without contacting the server.
bool SetFtpCurrentDir(inet::FtpConnection& connection, const QString& directory);
// The remote path followed by "/" unless it is empty or already ends with one.
QString IncludeTrailingSlash(const QString& path);
