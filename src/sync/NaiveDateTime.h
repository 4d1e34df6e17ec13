#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <compare>

// A calendar date and time of day without a time zone, to the millisecond.
// File times are compared as the scans record them: local files in local wall
// clock time, remote files as the server lists them, with no conversion between
// the two. Counted as milliseconds since 1899-12-30 00:00, so that the classic
// day-count form (days with the time of day as fraction) converts exactly.
class NaiveDateTime {
public:
    constexpr NaiveDateTime() = default;

    // Builds a value from calendar fields; an invalid date or time gives the epoch.
    static NaiveDateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                                   int msec = 0);
    static NaiveDateTime fromDateAndTime(QDate date, QTime time);
    // Takes the wall-clock fields of a QDateTime as shown in local time.
    static NaiveDateTime fromLocal(const QDateTime& dateTime);
    static NaiveDateTime fromDayCount(double days);
    static constexpr NaiveDateTime fromMSecs(qint64 msecs) { return NaiveDateTime(msecs); }

    QDate date() const;
    QTime time() const;
    // The same wall-clock fields as a local QDateTime (for setting file times).
    QDateTime toLocal() const;
    double toDayCount() const;
    constexpr qint64 msecs() const { return m_msecs; }
    // "yyyy-MM-dd hh:mm:ss.zzz", for logs and test messages.
    QString toString() const;

    friend constexpr auto operator<=>(const NaiveDateTime&, const NaiveDateTime&) = default;

private:
    constexpr explicit NaiveDateTime(qint64 msecs) : m_msecs(msecs) {}

    qint64 m_msecs = 0;
};
