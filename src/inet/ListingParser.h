#pragma once

// Pure parsers of the listings an FTP server sends: LIST lines (Unix "ls -l",
// DOS/IIS) and MLSD facts.

#include "inet/FtpService.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

namespace inet {

// What one line of a listing turned out to be. A line that is neither an entry
// nor one of the known lines without one ("total 12", blank lines, "." and "..",
// devices, pipes, sockets, MLSD cdir/pdir) is Unrecognised: the listing is then
// not known to be complete, since the line may well have been a folder.
struct ListingLine {
    enum class Kind { Entry, NotAnEntry, Unrecognised };
    Kind kind = Kind::Unrecognised;
    FindData entry; // for Kind::Entry
};

// One line of a LIST reply in the Unix or the DOS/IIS form. `today` is the
// date against which a Unix line without a year is placed (the six-month rule).
// Empty for lines that are no entry ("total 12", blank lines), for "." and "..",
// and for devices, pipes and sockets. A symbolic link is a file named without
// its " -> target"; the name is everything after the blank that follows the
// time or year column, so blanks in names are kept. The line may end in CR.
// A size that is negative or absurd is kept as FindData::UnknownSize.
ListingLine readListLine(const QString& line, QDate today);
// The entry of readListLine, if the line is one.
std::optional<FindData> parseListLine(const QString& line, QDate today);

// One line of an MLSD reply ("fact=value;...; name"). The UTC modify time is
// converted to local time (left invalid when the line has none). Empty for
// cdir/pdir entries, "." and "..", entries other than files, folders and links,
// and malformed lines, which are Unrecognised (no "; " before the name, or no
// "fact=value" among the facts). The name follows the first "; " and may hold
// blanks and semicolons.
ListingLine readMlsdLine(const QString& line);
std::optional<FindData> parseMlsdLine(const QString& line);

// An RFC 3659 time-val ("YYYYMMDDhhmmss[.sss]", UTC), as MLSD and MDTM give it.
std::optional<QDateTime> parseTimeVal(const QString& text);

} // namespace inet
