// Modification times on the server: MDTM to read them, and the commands that
// servers accept for setting them.
#include "inet/FtpService.h"

#include "inet/FtpConnectionPrivate.h"
#include "inet/InetPrivate.h"
#include "inet/ListingParser.h"
#include "inet/ReplyParser.h"

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

bool FtpConnectionPrivate::setTimeTryingEachWay(const QString& path, const QDateTime& modified) {
    while (m_timeSetter != TimeSetter::None) {
        const QString command = timeCommand(modified, path);
        FtpReply reply;
        if (!ControlConnection::isSendable(command) || !ensureConnected() || !m_control->command(command, reply))
            return false;
        if (learnTimeReply(reply))
            return true;
        if (m_timeSetterProven)
            return false;
    }
    return false;
}

bool FtpConnectionPrivate::sizeDiffers(const FtpReply& reply, qint64 sentBytes) {
    if (isUnknownCommandReply(reply)) {
        m_capabilities |= RefusedSize;
        return false;
    }
    // "213 1048576" (RFC 3659, 4); anything else tells nothing of this file.
    if (reply.code != 213)
        return false;
    bool isNumber = false;
    const qint64 stored = reply.text.mid(4).trimmed().toLongLong(&isNumber);
    return isNumber && stored != sentBytes;
}

bool FtpConnectionPrivate::renameCheckingSize(const QString& tempPath, const QString& target,
                                              const std::optional<QDateTime>& modified, qint64 sentBytes,
                                              bool& timeSet) {
    timeSet = false;
    // The size and the time go with the rename, in the same round trip; a
    // rename keeps the time, so the file never shows the wrong one.
    const bool askSize = sentBytes != FindData::UnknownSize && !(m_capabilities & RefusedSize);
    const bool setTime = modified && m_timeSetter != TimeSetter::None;
    QStringList commands;
    if (askSize)
        commands << QStringLiteral("SIZE ") + tempPath;
    if (setTime)
        commands << timeCommand(*modified, tempPath);
    commands << QStringLiteral("RNFR ") + tempPath << QStringLiteral("RNTO ") + target;
    std::vector<FtpReply> replies;
    if (!ensureConnected() || !m_control->commandsTogether(commands, replies))
        return false;
    size_t next = 0;
    const bool cut = askSize && sizeDiffers(replies[next++], sentBytes);
    if (setTime)
        timeSet = learnTimeReply(replies[next++]);
    const bool renamed = replies[next].code / 100 == 3 && replies[next + 1].isCompletion();
    if (cut) {
        // The rename went with the question. A cut file left under the name
        // with the source's time would pass for the whole file on every later
        // run, which compares times only; without it the next run sends the
        // file again.
        if (renamed)
            removeQuietly(target);
        return fail(ErrorUploadSizeMismatch); // the caller removes the temporary file
    }
    return renamed || requireClasses({replies[next], replies[next + 1]}, {3, 2});
}

bool FtpConnectionPrivate::mayQueuePlacement(bool replacesFile, bool setsTime) const {
    // A refused rename over a file is put right by moving the file aside,
    // and a refused time by trying the next way: both need replies first.
    if (replacesFile && !(m_capabilities & RenamesOverFiles))
        return false;
    if (setsTime && m_timeSetter != TimeSetter::None && !m_timeSetterProven)
        return false;
    // Through an FTP proxy, a passive request queued behind other commands
    // met replies out of step: proxies keep the plain conversation.
    return !m_parameters.proxy && m_control && m_control->isUsable();
}

void FtpConnectionPrivate::noteRenamedOverFile() {
    if (!(m_capabilities & RefusesRenameOverFiles))
        m_capabilities |= RenamesOverFiles;
}

bool FtpConnectionPrivate::flushQueued() {
    return !m_control || m_control->flushQueued();
}

bool FtpConnectionPrivate::queuePlacement(const StoredUpload& stored, const QString& target, bool askStoredTime,
                                          WhenPlaced whenPlaced) {
    // As renameCheckingSize, and the time the server gave the file where it
    // takes none from us.
    const bool askSize = stored.size != FindData::UnknownSize && !(m_capabilities & RefusedSize);
    const bool setTime = stored.modified && m_timeSetter != TimeSetter::None;
    const bool askTime = !setTime && askStoredTime;
    QStringList commands;
    if (askSize)
        commands << QStringLiteral("SIZE ") + stored.tempPath;
    if (setTime)
        commands << timeCommand(*stored.modified, stored.tempPath);
    commands << QStringLiteral("RNFR ") + stored.tempPath << QStringLiteral("RNTO ") + target;
    if (askTime)
        commands << QStringLiteral("MDTM ") + target;
    auto onReplies = [this, stored, target, askSize, setTime, askTime,
                      whenPlaced = std::move(whenPlaced)](const std::vector<FtpReply>* replies) {
        PlacedUpload placed;
        if (!replies) {
            placed.failure = Failure{ErrorConnectionAborted, {}};
            whenPlaced(placed);
            return;
        }
        size_t next = 0;
        const bool cut = askSize && sizeDiffers(replies->at(next++), stored.size);
        const bool timeSet = setTime && learnTimeReply(replies->at(next++));
        const FtpReply& from = replies->at(next++);
        const FtpReply& to = replies->at(next++);
        const bool renamed = from.isIntermediate() && to.isCompletion();
        // The clean-up goes with the next command too; the caller learns of
        // the failure that mattered, not of the clean-up's.
        const auto removeLater = [this](const QString& path) {
            m_control->queue({QStringLiteral("DELE ") + path}, [](const std::vector<FtpReply>*) {});
        };
        if (cut) {
            // See renameCheckingSize: a cut file must not stay under the name.
            removeLater(renamed ? target : stored.tempPath);
            placed.failure = Failure{ErrorUploadSizeMismatch, {}};
        } else if (!renamed) {
            removeLater(stored.tempPath);
            placed.failure = Failure{ErrorExtendedError, from.isIntermediate() ? to.text : from.text};
        } else {
            placed.ok = true;
            if (timeSet)
                placed.storedTime = stored.modified;
            else if (askTime)
                placed.storedTime = parseMdtmReply(replies->at(next).text);
        }
        whenPlaced(placed);
    };
    return m_control->queue(commands, std::move(onReplies));
}

bool FtpConnection::modificationTimes(const QStringList& remoteFiles, std::vector<std::optional<QDateTime>>& times) {
    return d->track(d->askModificationTimes(remoteFiles, times));
}

bool FtpConnection::setsNoModificationTimes() const {
    return d->setsNoTimes();
}

} // namespace inet
