#include "inet/ListingParser.h"

#include "inet/ReplyParser.h"

#include <algorithm>

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>

namespace inet {

namespace {

bool isDotEntry(const QString& name) {
    return name == QLatin1String(".") || name == QLatin1String("..");
}

ListingLine entry(FindData data) {
    return ListingLine{ListingLine::Kind::Entry, std::move(data)};
}

ListingLine notAnEntry() {
    return ListingLine{ListingLine::Kind::NotAnEntry, {}};
}

ListingLine unrecognised() {
    return ListingLine{ListingLine::Kind::Unrecognised, {}};
}

// "total 24": the block count that ls prints first.
bool isTotalLine(const QString& line) {
    static const QRegularExpression total(QStringLiteral("^\\s*total\\s+\\d+\\s*$"),
                                          QRegularExpression::CaseInsensitiveOption);
    return total.match(line).hasMatch();
}

// A whitespace-separated field of a listing line and where it ends, so that the
// name can be cut from the line itself with its blanks intact.
struct Field {
    QString text;
    qsizetype end = 0; // index just past the field
};

std::vector<Field> splitFields(const QString& line) {
    std::vector<Field> fields;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        while (i < n && line.at(i).isSpace())
            ++i;
        if (i >= n)
            break;
        const qsizetype start = i;
        while (i < n && !line.at(i).isSpace())
            ++i;
        fields.push_back({line.mid(start, i - start), i});
    }
    return fields;
}

// Beyond this a size can only be a server's garbage (it is 4 EiB).
constexpr qint64 MaxPlausibleSize = qint64(1) << 62;

// A size field: digits, perhaps with a sign. A negative or absurd number still
// marks the column (the entry is kept), but as an unknown size.
std::optional<qint64> parseSize(const QString& text) {
    static const QRegularExpression shape(QStringLiteral("^-?\\d+$"));
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < 0 || value > MaxPlausibleSize)
        return FindData::UnknownSize;
    return value;
}

// A size glued to the group column when it is too wide for its padding
// ("ftpadmin125435904"): the trailing digits of a field that starts otherwise.
std::optional<qint64> parseGluedSize(const QString& text) {
    static const QRegularExpression glued(QStringLiteral("^\\D.*?(\\d+)$"));
    const QRegularExpressionMatch m = glued.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return parseSize(m.captured(1));
}

// "Jan".."Dec" in any letter case (servers print the C locale's names).
int monthFromName(const QString& text) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3)
        return 0;
    const QString lower = text.toLower();
    for (int i = 0; i < 12; ++i) {
        if (lower == QLatin1String(names[i]))
            return i + 1;
    }
    return 0;
}

// The milliseconds of a decimal fraction of a second ("25" is 250 ms).
int millisecondsOf(const QString& fraction) {
    return fraction.isEmpty() ? 0 : fraction.left(3).leftJustified(3, QLatin1Char('0')).toInt();
}

// "hh:mm", "hh:mm:ss" or "hh:mm:ss.fraction" (ls with full times).
std::optional<QTime> parseClock(const QString& text) {
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:\\.(\\d+))?)?$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int seconds = m.hasCaptured(3) ? m.captured(3).toInt() : 0;
    const QTime time(m.captured(1).toInt(), m.captured(2).toInt(), seconds, millisecondsOf(m.captured(4)));
    if (!time.isValid())
        return std::nullopt;
    return time;
}

// `ls -l` shows "Mon dd hh:mm" without a year for entries of the last six
// months. The year is the one that puts the date latest without being more than
// one day after `today`: the day of grace absorbs a server clock or zone that is
// ahead of ours (a listing in UTC can be a day ahead of local time). So on
// 7 December "Nov 07" is this year and "Dec 20" last year, and on 31 December
// "Jan 01" is tomorrow, next year. Going back several years also places
// "Feb 29" in the latest leap year.
QDate placeInYear(int month, int day, QDate today) {
    const QDate latest = today.addDays(1);
    for (int year = today.year() + 1; year >= today.year() - 8; --year) {
        const QDate date(year, month, day);
        if (date.isValid() && date <= latest)
            return date;
    }
    return {};
}

// The Unix form:
//   -rw-r--r--   1 tester   tester         11 Nov 07 12:34 known.txt      (pyftpdlib, vsftpd)
//   -rw-r--r--   1 tester   tester         11 Nov  7 12:34 known.txt      (proftpd)
//   -rw-r--r--    1 1001       tester             11 Nov  7 13:34 known.txt (pure-ftpd)
//   -rw-r--r--   1 tester   tester         11 Jan  2  2020 old.txt
//   lrwxrwxrwx   1 tester   tester          9 Nov 07 12:34 link -> known.txt
// The group column is missing on some servers and the owner may be numeric, so
// the date is found by its shape (size, month, day, time or year) rather than by
// column number. The first such group from the left is the date: a name may
// contain something that looks like a date, the owner columns hardly.
ListingLine parseUnixLine(const QString& line, QDate today) {
    // The link count may be glued to the mode when it is too wide for its
    // column ("drwxr-x---+1464").
    static const QRegularExpression permissions(QStringLiteral("^[-dlbcpsDn][-rwxsStTlL?]{9}[+@.]?\\d*$"));
    static const QRegularExpression isoDate(QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})$"));
    static const QRegularExpression zoneOffset(QStringLiteral("^[+-]\\d{4}$"));
    static const QRegularExpression dayOfMonth(QStringLiteral("^\\d{1,2}$"));
    static const QRegularExpression yearField(QStringLiteral("^\\d{4}$"));

    const std::vector<Field> fields = splitFields(line);
    if (fields.empty() || !permissions.match(fields[0].text).hasMatch())
        return unrecognised(); // not the Unix form: the DOS form may know it

    const QChar type = fields[0].text.at(0);
    // Devices, pipes, sockets and the like are no files to copy: reading a pipe
    // could block the transfer for ever.
    if (type != QLatin1Char('-') && type != QLatin1Char('d') && type != QLatin1Char('l'))
        return notAnEntry();

    for (size_t i = 2; i + 1 < fields.size(); ++i) {
        std::optional<qint64> size = parseSize(fields[i - 1].text);
        if (!size && i >= 3)
            size = parseGluedSize(fields[i - 1].text);
        if (!size)
            continue;

        QDate date;
        QTime time(0, 0);
        FindData::TimeSource source = FindData::TimeSource::Listed;
        size_t last = 0; // the field after which the name begins

        if (const int month = monthFromName(fields[i].text); month != 0 && i + 2 < fields.size()) {
            if (!dayOfMonth.match(fields[i + 1].text).hasMatch())
                continue;
            const int day = fields[i + 1].text.toInt();
            const QString& yearOrTime = fields[i + 2].text;
            if (yearField.match(yearOrTime).hasMatch()) {
                date = QDate(yearOrTime.toInt(), month, day);
                source = FindData::TimeSource::ListedDay;
            } else if (const std::optional<QTime> clock = parseClock(yearOrTime)) {
                date = placeInYear(month, day, today);
                time = *clock;
            } else {
                continue;
            }
            last = i + 2;
        } else if (const QRegularExpressionMatch m = isoDate.match(fields[i].text); m.hasMatch()) {
            // "2026-11-07 12:34" or "2026-11-07 12:34:56.123456789 +0000" (ls with
            // an ISO time style; the zone is not applied, as with every LIST time)
            const std::optional<QTime> clock = parseClock(fields[i + 1].text);
            if (!clock)
                continue;
            date = QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
            time = *clock;
            last = i + 1;
            // Only the full form (with seconds) carries a zone; in the short form
            // a "+0100" field is the start of the name.
            const bool fullForm = fields[i + 1].text.count(QLatin1Char(':')) == 2;
            if (fullForm && last + 1 < fields.size() && zoneOffset.match(fields[last + 1].text).hasMatch())
                ++last;
        } else {
            continue;
        }
        if (!date.isValid() || last + 1 >= fields.size())
            continue;

        // The name is everything after the single blank that follows the time or
        // year column, so leading and inner blanks of a name survive.
        QString name = line.mid(fields[last].end + 1);
        if (type == QLatin1Char('l')) {
            // "name -> target". Whether the target is a folder cannot be told
            // from the listing, so a link counts as a file: the server follows it
            // on RETR, and a link to a folder fails as a single file would
            // instead of leading a recursive walk into a possible loop.
            const qsizetype arrow = name.indexOf(QLatin1String(" -> "));
            if (arrow >= 0)
                name.truncate(arrow);
        }
        if (isDotEntry(name))
            return notAnEntry();
        if (name.isEmpty())
            return unrecognised();

        FindData data;
        data.name = name;
        data.isDirectory = type == QLatin1Char('d');
        data.isLink = type == QLatin1Char('l');
        data.size = *size;
        data.modifiedDate = date;
        data.modifiedTime = time;
        data.timeSource = source;
        return entry(std::move(data));
    }
    // A mode column, then nothing that reads as size and date: a form this
    // parser does not know, which must not pass for an empty line.
    return unrecognised();
}

// Years of two digits: 70 to 99 are 19xx, the rest 20xx, as servers of that
// form began to appear in the 1990s and none predates 1970.
int fullYear(const QString& text) {
    const int year = text.toInt();
    if (text.size() > 2)
        return year;
    return year >= 70 ? 1900 + year : 2000 + year;
}

// The DOS/IIS form:
//   11-07-26  12:34PM       <DIR>          folder
//   11-07-2026  01:05AM                  123 file name.txt
//   11-07-26  13:34                       11 known.txt        (24-hour clock)
// The date is month-day-year; a first number above 12 can only be a day, which
// some servers put first.
ListingLine parseDosLine(const QString& line) {
    static const QRegularExpression re(QStringLiteral(
        "^\\s*(\\d{1,4})[-/](\\d{1,2})[-/](\\d{1,4})\\s+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*([AaPp][Mm])?"
        "\\s+(<DIR>|\\d+)\\s"));
    const QRegularExpressionMatch m = re.match(line);
    if (!m.hasMatch())
        return unrecognised();

    int year = 0;
    int month = 0;
    int day = 0;
    if (m.capturedLength(1) == 4) { // 2026-11-07
        year = m.captured(1).toInt();
        month = m.captured(2).toInt();
        day = m.captured(3).toInt();
    } else {
        month = m.captured(1).toInt();
        day = m.captured(2).toInt();
        year = fullYear(m.captured(3));
        if (month > 12 && day <= 12)
            std::swap(month, day);
    }
    const QDate date(year, month, day);

    int hour = m.captured(4).toInt();
    const QString meridiem = m.captured(7).toUpper();
    if (!meridiem.isEmpty()) {
        if (hour < 1 || hour > 12)
            return unrecognised();
        hour = hour % 12 + (meridiem == QLatin1String("PM") ? 12 : 0);
    }
    const QTime time(hour, m.captured(5).toInt(), m.hasCaptured(6) ? m.captured(6).toInt() : 0);
    if (!date.isValid() || !time.isValid())
        return unrecognised();

    FindData data;
    data.isDirectory = m.captured(8).compare(QLatin1String("<DIR>"), Qt::CaseInsensitive) == 0;
    if (!data.isDirectory) {
        data.size = parseSize(m.captured(8)).value_or(FindData::UnknownSize);
    }
    // A size is followed by exactly one blank, so the rest is the name, leading
    // blanks included; "<DIR>" is followed by a padded column.
    QString name = line.mid(m.capturedEnd(0));
    if (data.isDirectory) {
        qsizetype start = 0;
        while (start < name.size() && name.at(start) == QLatin1Char(' '))
            ++start;
        name = name.mid(start);
    }
    if (isDotEntry(name))
        return notAnEntry();
    if (name.isEmpty())
        return unrecognised();
    data.name = name;
    data.modifiedDate = date;
    data.modifiedTime = time;
    data.timeSource = FindData::TimeSource::Listed;
    return entry(std::move(data));
}

std::optional<FindData> entryOf(ListingLine line) {
    if (line.kind != ListingLine::Kind::Entry)
        return std::nullopt;
    return std::move(line.entry);
}

} // namespace

ListingLine readListLine(const QString& rawLine, QDate today) {
    const QString line = withoutLineBreak(rawLine);
    if (line.trimmed().isEmpty() || isTotalLine(line))
        return notAnEntry();
    if (ListingLine unix = parseUnixLine(line, today); unix.kind != ListingLine::Kind::Unrecognised)
        return unix;
    return parseDosLine(line);
}

std::optional<FindData> parseListLine(const QString& line, QDate today) {
    return entryOf(readListLine(line, today));
}

std::optional<FindData> parseMlsdLine(const QString& line) {
    return entryOf(readMlsdLine(line));
}

// "modify=20261107123456;perm=radfwMT;size=11;type=file;unique=fe00ga782c8; known.txt"
ListingLine readMlsdLine(const QString& rawLine) {
    const QString line = withoutLineBreak(rawLine);
    if (line.trimmed().isEmpty())
        return notAnEntry();
    // The facts end with "; " and the name follows; the name itself may hold
    // blanks and semicolons. A line without facts starts with the blank.
    // Anything else (a LIST line, an error text, a line whose facts lack
    // their ";") is no MLSD line: taken as a file, it would hide what it was.
    qsizetype split = line.indexOf(QLatin1String("; "));
    qsizetype nameStart = split + 2;
    if (line.startsWith(QLatin1Char(' '))) {
        split = 0;
        nameStart = 1;
    }
    if (split < 0)
        return unrecognised();
    const QString name = line.mid(nameStart);
    if (isDotEntry(name))
        return notAnEntry();
    if (name.isEmpty())
        return unrecognised();

    FindData data;
    data.name = name;
    data.size = FindData::UnknownSize; // unless a size fact tells it
    const QStringList facts = line.left(split).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const bool anyFact = std::any_of(facts.cbegin(), facts.cend(),
                                     [](const QString& fact) { return fact.indexOf(QLatin1Char('=')) > 0; });
    if (!facts.isEmpty() && !anyFact)
        return unrecognised();
    for (const QString& fact : facts) {
        const qsizetype eq = fact.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = fact.left(eq).trimmed().toLower();
        const QString value = fact.mid(eq + 1);
        if (key == QLatin1String("type")) {
            const QString type = value.toLower();
            if (type == QLatin1String("file")) {
                data.isDirectory = false;
            } else if (type == QLatin1String("dir")) {
                data.isDirectory = true;
            } else if (type.startsWith(QLatin1String("os.unix=slink")) ||
                       type.startsWith(QLatin1String("os.unix=symlink"))) {
                // A symbolic link, like a link in LIST: the server follows it on
                // RETR, and whether it points to a folder is not told.
                data.isDirectory = false;
                data.isLink = true;
            } else {
                // cdir, pdir, devices, pipes and anything unknown.
                return notAnEntry();
            }
        } else if (key == QLatin1String("size") || key == QLatin1String("sizd")) {
            data.size = parseSize(value).value_or(FindData::UnknownSize);
        } else if (key == QLatin1String("modify")) {
            if (const std::optional<QDateTime> utc = parseTimeVal(value)) {
                const QDateTime local = utc->toLocalTime();
                data.modifiedDate = local.date();
                data.modifiedTime = local.time();
            }
        }
    }
    // An entry without a type fact stays a plain file: every server we know
    // sends one, and a file is the harmless guess.
    return entry(std::move(data));
}

// "20261107123456" or "20261107123456.789" (RFC 3659 time-val, always UTC).
std::optional<QDateTime> parseTimeVal(const QString& text) {
    static const QRegularExpression re(
        QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(\\d{2})(?:\\.(\\d+))?$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int ms = millisecondsOf(m.captured(7));
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    // Some servers send second 60 for a leap second; it is the last second.
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), qMin(m.captured(6).toInt(), 59), ms);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

} // namespace inet
