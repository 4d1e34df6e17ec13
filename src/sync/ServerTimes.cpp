#include "sync/ServerTimes.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdlib>

namespace engine {

namespace {

constexpr int MaxZoneMinutes = 14 * 60;
constexpr int ZoneStepMinutes = 15;

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

} // namespace engine
