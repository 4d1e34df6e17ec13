// Modification times on the server: MDTM to read them, and the commands that
// servers accept for setting them.
#include "inet/FtpService.h"

#include "inet/FtpConnectionPrivate.h"
#include "inet/InetPrivate.h"
#include "inet/ListingParser.h"

namespace inet {

namespace {

// A share of a large tree in one round trip, while the replies (about 20
// bytes each) stay far below what the socket buffers hold unread.
constexpr qsizetype TimesAskedTogether = 500;

QString timeVal(const QDateTime& modified) {
    return modified.toUTC().toString(QStringLiteral("yyyyMMddHHmmss"));
}

} // namespace

bool FtpConnectionPrivate::askModificationTimes(const QStringList& files,
                                                std::vector<std::optional<QDateTime>>& times) {
    times.assign(size_t(files.size()), std::nullopt);
    if (!ensureConnected())
        return false;
    std::vector<std::optional<FtpReply>> replies;
    if (!m_control->askEach(QStringLiteral("MDTM"), files, TimesAskedTogether, replies))
        return false;
    for (size_t i = 0; i < replies.size(); ++i) {
        if (replies[i])
            times[i] = parseMdtmReply(replies[i]->text);
    }
    return true;
}

QString FtpConnectionPrivate::timeCommand(const QDateTime& modified, const QString& path) const {
    switch (m_timeSetter) {
    case TimeSetter::Mfmt: // RFC draft "MFMT", the common form
        return QStringLiteral("MFMT %1 %2").arg(timeVal(modified), path);
    case TimeSetter::MdtmWithTime: // servers without MFMT that take a time before the name
        return QStringLiteral("MDTM %1 %2").arg(timeVal(modified), path);
    case TimeSetter::SiteUtime:
        return QStringLiteral("SITE UTIME %1 %2").arg(timeVal(modified), path);
    case TimeSetter::None:
        break;
    }
    return {};
}

bool FtpConnectionPrivate::learnTimeReply(const FtpReply& reply) {
    if (reply.isCompletion()) {
        m_timeSetterProven = true;
        return true;
    }
    // A way that has worked before stays: this file alone was refused.
    if (!m_timeSetterProven)
        m_timeSetter = TimeSetter(int(m_timeSetter) + 1);
    return false;
}

void FtpConnectionPrivate::setTimeTryingEachWay(const QString& path, const QDateTime& modified) {
    while (m_timeSetter != TimeSetter::None) {
        const QString command = timeCommand(modified, path);
        FtpReply reply;
        if (!ControlConnection::isSendable(command) || !ensureConnected() || !m_control->command(command, reply))
            return;
        if (learnTimeReply(reply) || m_timeSetterProven)
            return;
    }
}

bool FtpConnectionPrivate::renameKeepingTime(const QString& tempPath, const QString& target,
                                             const std::optional<QDateTime>& modified, bool& timeSet) {
    timeSet = false;
    if (!modified || m_timeSetter == TimeSetter::None)
        return rename(tempPath, target);
    // The time goes onto the temporary file with the rename, in the same
    // round trip; a rename keeps it, so the file never shows the wrong time.
    std::vector<FtpReply> replies;
    if (!ensureConnected() ||
        !m_control->commandsTogether(
            {timeCommand(*modified, tempPath), QStringLiteral("RNFR ") + tempPath, QStringLiteral("RNTO ") + target},
            replies))
        return false;
    timeSet = learnTimeReply(replies[0]);
    return requireClasses(replies, {AnyClass, 3, 2});
}

bool FtpConnection::modificationTimes(const QStringList& remoteFiles, std::vector<std::optional<QDateTime>>& times) {
    return d->track(d->askModificationTimes(remoteFiles, times));
}

bool FtpConnection::setsNoModificationTimes() const {
    return d->setsNoTimes();
}

} // namespace inet
