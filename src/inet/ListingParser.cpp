#include "inet/ListingParser.h"

#include <algorithm>
#include <string_view>

#include <QDateTime>
#include <QStringTokenizer>
#include <QStringView>
#include <QVarLengthArray>

namespace inet {

namespace {

// The listing of a large tree is parsed line by line on the pool's threads, so
// the checks below are hand-written over views of the line: no pattern engine
// and no string per field. Their shapes are those of ASCII text: a digit is
// 0-9 only and a separating blank inside a shape is one of " \t\n\v\f\r".

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isAsciiBlank(QChar c) {
    return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
}

// Whether `c` is one of the ASCII characters of `set`.
bool isOneOf(QChar c, std::string_view set) {
    return c.unicode() < 0x80 && set.find(char(c.unicode())) != std::string_view::npos;
}

bool isAllDigits(QStringView text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

// The value of a short run of digits (at most 4, so no overflow).
int smallNumber(QStringView digits) {
    int value = 0;
    for (const QChar c : digits)
        value = value * 10 + (c.unicode() - '0');
    return value;
}

QChar asciiLower(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ? QChar(c.unicode() + ('a' - 'A')) : c;
}

bool isAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// Whether `text` in lower case begins with `prefix` (lower-case ASCII). Text
// beyond ASCII takes the full Unicode lowering, under which some letters turn
// into ASCII ones (the Kelvin sign is a "k").
bool lowerStartsWith(QStringView text, QLatin1String prefix) {
    if (!isAscii(text))
        return text.toString().toLower().startsWith(prefix);
    if (text.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        if (asciiLower(text[i]) != QLatin1Char(prefix[i]))
            return false;
    }
    return true;
}

bool isLowerCaseOf(QStringView text, QLatin1String lower) {
    return text.size() == lower.size() && lowerStartsWith(text, lower);
}

bool isDotEntry(QStringView name) {
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

// The line without the CR and LF it may end in.
QStringView lineBody(const QString& rawLine) {
    QStringView line(rawLine);
    while (!line.isEmpty() && (line.back() == QLatin1Char('\r') || line.back() == QLatin1Char('\n')))
        line.chop(1);
    return line;
}

// A cursor over a line for the shapes below.
class Scanner {
public:
    explicit Scanner(QStringView text) : m_text(text) {}

    qsizetype position() const { return m_pos; }
    // The character `ahead` places on, or NUL past the end (which no shape takes).
    QChar peek(qsizetype ahead = 0) const { return m_pos + ahead < m_text.size() ? m_text[m_pos + ahead] : QChar(); }
    bool take(QChar c) {
        if (atEnd() || peek() != c)
            return false;
        ++m_pos;
        return true;
    }
    bool takeOneOf(std::string_view set) {
        if (!isOneOf(peek(), set))
            return false;
        ++m_pos;
        return true;
    }
    // Takes the ASCII letter `lower` in either case.
    bool takeLetter(char lower) {
        if (asciiLower(peek()) != QLatin1Char(lower))
            return false;
        ++m_pos;
        return true;
    }
    bool take(QLatin1String word) {
        if (!m_text.sliced(m_pos).startsWith(word))
            return false;
        m_pos += word.size();
        return true;
    }
    bool takeBlank() {
        if (!isAsciiBlank(peek()))
            return false;
        ++m_pos;
        return true;
    }
    // Skips ASCII blanks and tells how many there were.
    qsizetype skipBlanks() {
        const qsizetype start = m_pos;
        while (isAsciiBlank(peek()))
            ++m_pos;
        return m_pos - start;
    }
    // All the digits from here, or an empty view.
    QStringView digits() {
        const qsizetype start = m_pos;
        while (isDigit(peek()))
            ++m_pos;
        return m_text.sliced(start, m_pos - start);
    }
    // A run of digits from here whose length is in [min, max]. A longer run is
    // no match either: a shape never ends inside a run of digits.
    std::optional<QStringView> digits(qsizetype min, qsizetype max) {
        const QStringView run = digits();
        if (run.size() < min || run.size() > max)
            return std::nullopt;
        return run;
    }
    bool atEnd() const { return m_pos >= m_text.size(); }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

// "total 24": the block count that ls prints first.
bool isTotalLine(QStringView line) {
    Scanner s(line);
    s.skipBlanks();
    for (const char letter : {'t', 'o', 't', 'a', 'l'}) {
        if (!s.takeLetter(letter))
            return false;
    }
    if (s.skipBlanks() == 0 || s.digits().isEmpty())
        return false;
    s.skipBlanks();
    return s.atEnd();
}

// A whitespace-separated field of a listing line and where it ends, so that the
// name can be cut from the line itself with its blanks intact.
struct Field {
    QStringView text;
    qsizetype end = 0; // index just past the field
};

using Fields = QVarLengthArray<Field, 16>;

Fields splitFields(QStringView line) {
    Fields fields;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        while (i < n && line[i].isSpace())
            ++i;
        if (i >= n)
            break;
        const qsizetype start = i;
        while (i < n && !line[i].isSpace())
            ++i;
        fields.append({line.sliced(start, i - start), i});
    }
    return fields;
}

// Beyond this a size can only be a server's garbage (it is 4 EiB).
constexpr qint64 MaxPlausibleSize = qint64(1) << 62;

// A size field: digits, perhaps with a sign. A negative or absurd number still
// marks the column (the entry is kept), but as an unknown size. A single LF
// after the digits is allowed, as it always was for an MLSD size fact.
std::optional<qint64> parseSize(QStringView text) {
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative)
        text = text.sliced(1);
    if (!isAllDigits(text))
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        const int digit = c.unicode() - '0';
        if (value > (MaxPlausibleSize - digit) / 10)
            return FindData::UnknownSize;
        value = value * 10 + digit;
    }
    if (negative && value != 0)
        return FindData::UnknownSize;
    return value;
}

// A size glued to the group column when it is too wide for its padding
// ("ftpadmin125435904"): the trailing digits of a field that starts otherwise.
// A field that is not valid UTF-16 never was one.
std::optional<qint64> parseGluedSize(QStringView text) {
    if (text.isEmpty() || isDigit(text.front()))
        return std::nullopt;
    qsizetype start = text.size();
    while (isDigit(text[start - 1]))
        --start;
    if (start == text.size() || !text.isValidUtf16())
        return std::nullopt;
    return parseSize(text.sliced(start));
}

// "Jan".."Dec" in any ASCII letter case (servers print the C locale's names).
int monthFromName(QStringView text) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3)
        return 0;
    for (int i = 0; i < 12; ++i) {
        if (asciiLower(text[0]) == QLatin1Char(names[i][0]) && asciiLower(text[1]) == QLatin1Char(names[i][1]) &&
            asciiLower(text[2]) == QLatin1Char(names[i][2]))
            return i + 1;
    }
    return 0;
}

// The milliseconds of a decimal fraction of a second in digits ("25" is 250 ms).
int millisecondsOf(QStringView fraction) {
    const QStringView first = fraction.left(3);
    int ms = smallNumber(first);
    for (qsizetype i = first.size(); i < 3; ++i)
        ms *= 10;
    return ms;
}

// "hh:mm", "hh:mm:ss" or "hh:mm:ss.fraction" (ls with full times).
std::optional<QTime> parseClock(QStringView text) {
    Scanner s(text);
    const std::optional<QStringView> hours = s.digits(1, 2);
    if (!hours || !s.take(QLatin1Char(':')))
        return std::nullopt;
    const std::optional<QStringView> minutes = s.digits(2, 2);
    if (!minutes)
        return std::nullopt;
    int seconds = 0;
    int ms = 0;
    if (s.take(QLatin1Char(':'))) {
        const std::optional<QStringView> secondsText = s.digits(2, 2);
        if (!secondsText)
            return std::nullopt;
        seconds = smallNumber(*secondsText);
        if (s.take(QLatin1Char('.'))) {
            const QStringView fraction = s.digits();
            if (fraction.isEmpty())
                return std::nullopt;
            ms = millisecondsOf(fraction);
        }
    }
    if (!s.atEnd())
        return std::nullopt;
    const QTime time(smallNumber(*hours), smallNumber(*minutes), seconds, ms);
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

// "drwxr-xr-x", perhaps with an ACL or attribute mark. The link count may be
// glued to the mode when it is too wide for its column ("drwxr-x---+1464").
bool isPermissionsField(QStringView text) {
    Scanner s(text);
    if (!s.takeOneOf("-dlbcpsDn"))
        return false;
    for (int i = 0; i < 9; ++i) {
        if (!s.takeOneOf("-rwxsStTlL?"))
            return false;
    }
    s.takeOneOf("+@.");
    s.digits();
    return s.atEnd();
}

// "2026-11-07"
QDate parseIsoDate(QStringView text) {
    if (text.size() != 10 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-'))
        return {};
    const QStringView year = text.sliced(0, 4);
    const QStringView month = text.sliced(5, 2);
    const QStringView day = text.sliced(8, 2);
    if (!isAllDigits(year) || !isAllDigits(month) || !isAllDigits(day))
        return {};
    return QDate(smallNumber(year), smallNumber(month), smallNumber(day));
}

// "+0100"
bool isZoneOffset(QStringView text) {
    return text.size() == 5 && isOneOf(text[0], "+-") && isAllDigits(text.sliced(1));
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
ListingLine parseUnixLine(QStringView line, QDate today) {
    const Fields fields = splitFields(line);
    if (fields.empty() || !isPermissionsField(fields[0].text))
        return unrecognised(); // not the Unix form: the DOS form may know it

    const QChar type = fields[0].text.at(0);
    // Devices, pipes, sockets and the like are no files to copy: reading a pipe
    // could block the transfer for ever.
    if (type != QLatin1Char('-') && type != QLatin1Char('d') && type != QLatin1Char('l'))
        return notAnEntry();

    for (qsizetype i = 2; i + 1 < fields.size(); ++i) {
        std::optional<qint64> size = parseSize(fields[i - 1].text);
        if (!size && i >= 3)
            size = parseGluedSize(fields[i - 1].text);
        if (!size)
            continue;

        QDate date;
        QTime time(0, 0);
        FindData::TimeSource source = FindData::TimeSource::Listed;
        qsizetype last = 0; // the field after which the name begins

        if (const int month = monthFromName(fields[i].text); month != 0 && i + 2 < fields.size()) {
            const QStringView dayText = fields[i + 1].text;
            if (dayText.size() > 2 || !isAllDigits(dayText))
                continue;
            const int day = smallNumber(dayText);
            const QStringView yearOrTime = fields[i + 2].text;
            if (yearOrTime.size() == 4 && isAllDigits(yearOrTime)) {
                date = QDate(smallNumber(yearOrTime), month, day);
                source = FindData::TimeSource::ListedDay;
            } else if (const std::optional<QTime> clock = parseClock(yearOrTime)) {
                date = placeInYear(month, day, today);
                time = *clock;
            } else {
                continue;
            }
            last = i + 2;
        } else if (const QDate isoDate = parseIsoDate(fields[i].text); isoDate.isValid()) {
            // "2026-11-07 12:34" or "2026-11-07 12:34:56.123456789 +0000" (ls with
            // an ISO time style; the zone is not applied, as with every LIST time)
            const std::optional<QTime> clock = parseClock(fields[i + 1].text);
            if (!clock)
                continue;
            date = isoDate;
            time = *clock;
            last = i + 1;
            // Only the full form (with seconds) carries a zone; in the short form
            // a "+0100" field is the start of the name.
            const bool fullForm = fields[i + 1].text.count(QLatin1Char(':')) == 2;
            if (fullForm && last + 1 < fields.size() && isZoneOffset(fields[last + 1].text))
                ++last;
        } else {
            continue;
        }
        if (!date.isValid() || last + 1 >= fields.size())
            continue;

        // The name is everything after the single blank that follows the time or
        // year column, so leading and inner blanks of a name survive.
        QStringView name = line.sliced(fields[last].end + 1);
        if (type == QLatin1Char('l')) {
            // "name -> target". Whether the target is a folder cannot be told
            // from the listing, so a link counts as a file: the server follows it
            // on RETR, and a link to a folder fails as a single file would
            // instead of leading a recursive walk into a possible loop.
            const qsizetype arrow = name.indexOf(QLatin1String(" -> "));
            if (arrow >= 0)
                name = name.left(arrow);
        }
        if (isDotEntry(name))
            return notAnEntry();
        if (name.isEmpty())
            return unrecognised();

        FindData data;
        data.name = name.toString();
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
int fullYear(QStringView digits) {
    const int year = smallNumber(digits);
    if (digits.size() > 2)
        return year;
    return year >= 70 ? 1900 + year : 2000 + year;
}

// What the start of a DOS/IIS line holds, up to the name.
struct DosColumns {
    QStringView date[3];
    QStringView hour;
    QStringView minute;
    QStringView second;   // empty when the clock has none
    QStringView meridiem; // "AM"/"PM" in any case, or empty
    QStringView size;     // "<DIR>" or digits
    qsizetype nameStart = 0;
};

// "11-07-26  12:34PM       <DIR>          " or "2026/11/07 13:34:56       123 ":
// three numbers, the clock, an optional AM/PM, then "<DIR>" or a size, which
// must be followed by a blank.
std::optional<DosColumns> readDosColumns(QStringView line) {
    DosColumns c;
    Scanner s(line);
    s.skipBlanks();
    const std::optional<QStringView> first = s.digits(1, 4);
    if (!first || !s.takeOneOf("-/"))
        return std::nullopt;
    const std::optional<QStringView> second = s.digits(1, 2);
    if (!second || !s.takeOneOf("-/"))
        return std::nullopt;
    const std::optional<QStringView> third = s.digits(1, 4);
    if (!third || s.skipBlanks() == 0)
        return std::nullopt;
    c.date[0] = *first;
    c.date[1] = *second;
    c.date[2] = *third;

    const std::optional<QStringView> hour = s.digits(1, 2);
    if (!hour || !s.take(QLatin1Char(':')))
        return std::nullopt;
    const std::optional<QStringView> minute = s.digits(2, 2);
    if (!minute)
        return std::nullopt;
    c.hour = *hour;
    c.minute = *minute;
    if (s.take(QLatin1Char(':'))) {
        const std::optional<QStringView> seconds = s.digits(2, 2);
        if (!seconds)
            return std::nullopt;
        c.second = *seconds;
    }

    // The clock is followed by blanks, or by AM/PM (glued or not) and blanks.
    const qsizetype blanksAfterClock = s.skipBlanks();
    if (isOneOf(s.peek(), "AaPp") && isOneOf(s.peek(1), "Mm")) {
        c.meridiem = line.sliced(s.position(), 2);
        s.takeOneOf("AaPp");
        s.takeOneOf("Mm");
        if (s.skipBlanks() == 0)
            return std::nullopt;
    } else if (blanksAfterClock == 0) {
        return std::nullopt;
    }

    const qsizetype sizeStart = s.position();
    if (!s.take(QLatin1String("<DIR>")) && s.digits().isEmpty())
        return std::nullopt;
    c.size = line.sliced(sizeStart, s.position() - sizeStart);
    if (!s.takeBlank())
        return std::nullopt;
    c.nameStart = s.position();
    return c;
}

// The DOS/IIS form:
//   11-07-26  12:34PM       <DIR>          folder
//   11-07-2026  01:05AM                  123 file name.txt
//   11-07-26  13:34                       11 known.txt        (24-hour clock)
// The date is month-day-year; a first number above 12 can only be a day, which
// some servers put first. A line that is not valid UTF-16 is none of this form.
ListingLine parseDosLine(QStringView line) {
    const std::optional<DosColumns> c = readDosColumns(line);
    if (!c || !line.isValidUtf16())
        return unrecognised();

    int year = 0;
    int month = 0;
    int day = 0;
    if (c->date[0].size() == 4) { // 2026-11-07
        year = smallNumber(c->date[0]);
        month = smallNumber(c->date[1]);
        day = smallNumber(c->date[2]);
    } else {
        month = smallNumber(c->date[0]);
        day = smallNumber(c->date[1]);
        year = fullYear(c->date[2]);
        if (month > 12 && day <= 12)
            std::swap(month, day);
    }
    const QDate date(year, month, day);

    int hour = smallNumber(c->hour);
    if (!c->meridiem.isEmpty()) {
        if (hour < 1 || hour > 12)
            return unrecognised();
        const bool pm = asciiLower(c->meridiem.front()) == QLatin1Char('p');
        hour = hour % 12 + (pm ? 12 : 0);
    }
    const QTime time(hour, smallNumber(c->minute), smallNumber(c->second));
    if (!date.isValid() || !time.isValid())
        return unrecognised();

    FindData data;
    data.isDirectory = c->size == QLatin1String("<DIR>");
    if (!data.isDirectory) {
        data.size = parseSize(c->size).value_or(FindData::UnknownSize);
    }
    // A size is followed by exactly one blank, so the rest is the name, leading
    // blanks included; "<DIR>" is followed by a padded column.
    QStringView name = line.sliced(c->nameStart);
    if (data.isDirectory) {
        while (name.startsWith(QLatin1Char(' ')))
            name = name.sliced(1);
    }
    if (isDotEntry(name))
        return notAnEntry();
    if (name.isEmpty())
        return unrecognised();
    data.name = name.toString();
    data.modifiedDate = date;
    data.modifiedTime = time;
    data.timeSource = FindData::TimeSource::Listed;
    return entry(std::move(data));
}

// "20261107123456" or "20261107123456.789" (RFC 3659 time-val, always UTC). A
// single LF after it is allowed, as it always was.
std::optional<QDateTime> readTimeVal(QStringView text) {
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (text.size() < 14 || !isAllDigits(text.left(14)))
        return std::nullopt;
    int ms = 0;
    if (text.size() > 14) {
        const QStringView fraction = text.sliced(15);
        if (text[14] != QLatin1Char('.') || !isAllDigits(fraction))
            return std::nullopt;
        ms = millisecondsOf(fraction);
    }
    const auto number = [text](qsizetype at, qsizetype length) { return smallNumber(text.sliced(at, length)); };
    const QDate date(number(0, 4), number(4, 2), number(6, 2));
    // Some servers send second 60 for a leap second; it is the last second.
    const QTime time(number(8, 2), number(10, 2), qMin(number(12, 2), 59), ms);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

// Whether the facts part of an MLSD line has parts but no "key=value" among
// them, so that the line is no MLSD line at all.
bool lacksFacts(QStringView facts) {
    bool anyPart = false;
    for (const QStringView part : facts.tokenize(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (part.indexOf(QLatin1Char('=')) > 0)
            return false;
        anyPart = true;
    }
    return anyPart;
}

std::optional<FindData> entryOf(ListingLine line) {
    if (line.kind != ListingLine::Kind::Entry)
        return std::nullopt;
    return std::move(line.entry);
}

} // namespace

ListingLine readListLine(const QString& rawLine, QDate today) {
    const QStringView line = lineBody(rawLine);
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
    const QStringView line = lineBody(rawLine);
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
    const QStringView name = line.sliced(nameStart);
    if (isDotEntry(name))
        return notAnEntry();
    if (name.isEmpty())
        return unrecognised();

    FindData data;
    data.size = FindData::UnknownSize; // unless a size fact tells it
    const QStringView facts = line.left(split);
    if (lacksFacts(facts))
        return unrecognised();
    for (const QStringView fact : facts.tokenize(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = fact.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QStringView key = fact.left(eq).trimmed();
        const QStringView value = fact.sliced(eq + 1);
        if (isLowerCaseOf(key, QLatin1String("type"))) {
            if (isLowerCaseOf(value, QLatin1String("file"))) {
                data.isDirectory = false;
            } else if (isLowerCaseOf(value, QLatin1String("dir"))) {
                data.isDirectory = true;
            } else if (lowerStartsWith(value, QLatin1String("os.unix=slink")) ||
                       lowerStartsWith(value, QLatin1String("os.unix=symlink"))) {
                // A symbolic link, like a link in LIST: the server follows it on
                // RETR, and whether it points to a folder is not told.
                data.isDirectory = false;
                data.isLink = true;
            } else {
                // cdir, pdir, devices, pipes and anything unknown.
                return notAnEntry();
            }
        } else if (isLowerCaseOf(key, QLatin1String("size")) || isLowerCaseOf(key, QLatin1String("sizd"))) {
            data.size = parseSize(value).value_or(FindData::UnknownSize);
        } else if (isLowerCaseOf(key, QLatin1String("modify"))) {
            if (const std::optional<QDateTime> utc = readTimeVal(value)) {
                const QDateTime local = utc->toLocalTime();
                data.modifiedDate = local.date();
                data.modifiedTime = local.time();
            }
        }
    }
    // An entry without a type fact stays a plain file: every server we know
    // sends one, and a file is the harmless guess.
    data.name = name.toString();
    return entry(std::move(data));
}

std::optional<QDateTime> parseTimeVal(const QString& text) {
    return readTimeVal(text);
}

} // namespace inet
