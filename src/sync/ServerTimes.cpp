#include "sync/ServerTimes.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdlib>

namespace engine {

namespace {

constexpr int MaxZoneMinutes = 14 * 60;
constexpr int ZoneStepMinutes = 15;

// Wall-clock milliseconds count from 1899-12-30, the Unix epoch's day 25,569.
qint64 unixEpochWallClock() {
    static const qint64 epoch = NaiveDateTime::fromParts(1970, 1, 1).msecs();
    return epoch;
}

} // namespace

std::optional<int> parseZoneOffset(const QString& text) {
    if (text.compare(QLatin1String("UTC"), Qt::CaseInsensitive) == 0)
        return 0;
    static const QRegularExpression form(QStringLiteral("^([+-])(\\d{2}):(\\d{2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int minutes = m.captured(2).toInt() * 60 + m.captured(3).toInt();
    if (m.captured(3).toInt() >= 60 || minutes > MaxZoneMinutes)
        return std::nullopt;
    return m.captured(1) == QLatin1String("-") ? -minutes : minutes;
}

QString zoneOffsetText(int minutesEast) {
    const int minutes = std::abs(minutesEast);
    return QStringLiteral("%1%2:%3")
        .arg(minutesEast < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

std::optional<int> zoneFromListing(NaiveDateTime listed, const QDateTime& utc) {
    if (!utc.isValid())
        return std::nullopt;
    const QDateTime utcTime = utc.toUTC();
    const NaiveDateTime utcFields = NaiveDateTime::fromDateAndTime(utcTime.date(), utcTime.time());
    const double minutes = double(listed.msecs() - utcFields.msecs()) / 60000.0;
    const int zone = int(std::lround(minutes / ZoneStepMinutes)) * ZoneStepMinutes;
    if (std::abs(zone) > MaxZoneMinutes)
        return std::nullopt;
    return zone;
}

NaiveDateTime listedToLocal(NaiveDateTime listed, int minutesEast) {
    const QDateTime utc = QDateTime(listed.date(), listed.time(), Qt::UTC).addSecs(-qint64(minutesEast) * 60);
    return utcToLocal(utc);
}

NaiveDateTime utcToLocal(const QDateTime& utc) {
    return NaiveDateTime::fromLocal(utc);
}

NaiveDateTime LocalTimes::fromListed(NaiveDateTime listed, int minutesEast) {
    return fromUtc(listed.msecs() - unixEpochWallClock() - qint64(minutesEast) * 60'000);
}

NaiveDateTime LocalTimes::fromUtc(qint64 utcMSecs) {
    constexpr qint64 hour = 3'600'000;
    const qint64 hourStart = utcMSecs >= 0 ? utcMSecs - utcMSecs % hour : utcMSecs - ((utcMSecs % hour) + hour) % hour;
    auto found = m_offsetOfHour.constFind(hourStart);
    if (found == m_offsetOfHour.cend()) {
        const auto offsetAt = [](qint64 msecs) {
            return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toLocalTime().offsetFromUtc();
        };
        const int first = offsetAt(hourStart);
        found = m_offsetOfHour.insert(hourStart, first == offsetAt(hourStart + hour - 1) ? std::optional<int>(first)
                                                                                         : std::nullopt);
    }
    if (!found.value())
        return utcToLocal(QDateTime::fromMSecsSinceEpoch(utcMSecs, Qt::UTC));
    return NaiveDateTime::fromMSecs(unixEpochWallClock() + utcMSecs + qint64(*found.value()) * 1000);
}

} // namespace engine
