#include "sync/NaiveDateTime.h"

#include <cmath>

namespace {

constexpr qint64 MSecsPerDay = 24LL * 60 * 60 * 1000;

qint64 epochJulianDay() {
    static const qint64 day = QDate(1899, 12, 30).toJulianDay();
    return day;
}

// Floor division, so that times before the epoch split into a day and a
// non-negative time of day.
qint64 floorDiv(qint64 a, qint64 b) {
    qint64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

} // namespace

NaiveDateTime NaiveDateTime::fromParts(int year, int month, int day, int hour, int minute, int second, int msec) {
    return fromDateAndTime(QDate(year, month, day), QTime(hour, minute, second, msec));
}

NaiveDateTime NaiveDateTime::fromDateAndTime(QDate date, QTime time) {
    if (!date.isValid() || !time.isValid())
        return NaiveDateTime();
    return NaiveDateTime((date.toJulianDay() - epochJulianDay()) * MSecsPerDay + time.msecsSinceStartOfDay());
}

NaiveDateTime NaiveDateTime::fromLocal(const QDateTime& dateTime) {
    const QDateTime local = dateTime.toLocalTime();
    return fromDateAndTime(local.date(), local.time());
}

NaiveDateTime NaiveDateTime::fromDayCount(double days) {
    return NaiveDateTime(static_cast<qint64>(std::llround(days * double(MSecsPerDay))));
}

QDate NaiveDateTime::date() const {
    return QDate::fromJulianDay(epochJulianDay() + floorDiv(m_msecs, MSecsPerDay));
}

QTime NaiveDateTime::time() const {
    return QTime::fromMSecsSinceStartOfDay(int(m_msecs - floorDiv(m_msecs, MSecsPerDay) * MSecsPerDay));
}

QDateTime NaiveDateTime::toLocal() const {
    return QDateTime(date(), time(), Qt::LocalTime);
}

double NaiveDateTime::toDayCount() const {
    return double(m_msecs) / double(MSecsPerDay);
}

QString NaiveDateTime::toString() const {
    return date().toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
           time().toString(QStringLiteral("hh:mm:ss.zzz"));
}
