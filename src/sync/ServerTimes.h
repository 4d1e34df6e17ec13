#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

#include "sync/NaiveDateTime.h"

namespace engine {

// The zone a server lists its LIST times in, as minutes east of UTC.
// "UTC", "+01:00", "-05:30" (at most 14 hours either way); nothing else.
std::optional<int> parseZoneOffset(const QString& text);
QString zoneOffsetText(int minutesEast);

// The server's listing zone learnt from one file: its LIST time (to the
// minute, in that zone) against its exact UTC time from MDTM. Zones are whole
// quarter hours, which absorbs a file written between the two answers.
std::optional<int> zoneFromListing(NaiveDateTime listed, const QDateTime& utc);

// A time listed in the zone minutesEast, as local wall-clock time.
NaiveDateTime listedToLocal(NaiveDateTime listed, int minutesEast);
// An exact UTC time as local wall-clock time.
NaiveDateTime utcToLocal(const QDateTime& utc);

// The same for many times: the local zone's offset is looked up once for
// each hour met (a tree's files share hours, and each look-up through the
// zone data is dear). An hour in which the offset changes is converted
// time by time.
class LocalTimes {
public:
    NaiveDateTime fromUtc(qint64 utcMSecs);
    // A time listed in the zone minutesEast, like listedToLocal.
    NaiveDateTime fromListed(NaiveDateTime listed, int minutesEast);

private:
    QHash<qint64, std::optional<int>> m_offsetOfHour; // seconds east; none when it changes within the hour
};

} // namespace engine
