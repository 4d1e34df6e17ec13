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
    const Placement step = placement(tempPath, target, modified, sentBytes, false);
    std::vector<FtpReply> replies;
    if (!ensureConnected() || !m_control->commandsTogether(step.commands, replies))
        return false;
    const PlacementReplies read = readPlacement(step, replies, sentBytes);
    timeSet = read.timeSet;
    if (read.cut) {
        // The rename went with the question. A cut file left under the name
        // with the source's time would pass for the whole file on every later
        // run, which compares times only; without it the next run sends the
        // file again.
        if (read.renamed)
            removeQuietly(target);
        return fail(ErrorUploadSizeMismatch); // the caller removes the temporary file
    }
    return read.renamed || requireClasses({*read.renameFrom, *read.renameTo}, {3, 2});
}

FtpConnectionPrivate::Placement FtpConnectionPrivate::placement(const QString& tempPath, const QString& target,
                                                                const std::optional<QDateTime>& modified,
                                                                qint64 sentBytes, bool askStoredTime) const {
    // The size and the time go with the rename, in the same round trip; a
    // rename keeps the time, so the file never shows the wrong one.
    Placement step;
    step.askSize = sentBytes != FindData::UnknownSize && !(m_capabilities & RefusedSize);
    step.setTime = modified && m_timeSetter != TimeSetter::None;
    step.askTime = !step.setTime && askStoredTime;
    if (step.askSize)
        step.commands << QStringLiteral("SIZE ") + tempPath;
    if (step.setTime)
        step.commands << timeCommand(*modified, tempPath);
    step.commands << QStringLiteral("RNFR ") + tempPath << QStringLiteral("RNTO ") + target;
    if (step.askTime)
        step.commands << QStringLiteral("MDTM ") + target;
    return step;
}

FtpConnectionPrivate::PlacementReplies
FtpConnectionPrivate::readPlacement(const Placement& step, const std::vector<FtpReply>& replies, qint64 sentBytes) {
    PlacementReplies read;
    size_t next = 0;
    read.cut = step.askSize && sizeDiffers(replies.at(next++), sentBytes);
    read.timeSet = step.setTime && learnTimeReply(replies.at(next++));
    read.renameFrom = &replies.at(next++);
    read.renameTo = &replies.at(next++);
    read.renamed = read.renameFrom->isIntermediate() && read.renameTo->isCompletion();
    if (step.askTime)
        read.storedTime = &replies.at(next);
    return read;
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

void FtpConnectionPrivate::queueRemoval(const QString& remoteFile) {
    if (m_control && m_control->isUsable())
        m_control->queue({QStringLiteral("DELE ") + remoteFile}, [](const std::vector<FtpReply>*) {});
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
    const Placement step = placement(stored.tempPath, target, stored.modified, stored.size, askStoredTime);
    auto onReplies = [this, stored, target, step,
                      whenPlaced = std::move(whenPlaced)](const std::vector<FtpReply>* replies) {
        PlacedUpload placed;
        if (!replies) {
            placed.failure = Failure{ErrorConnectionAborted, {}};
            whenPlaced(placed);
            return;
        }
        const PlacementReplies read = readPlacement(step, *replies, stored.size);
        // The clean-up goes with the next command too; the caller learns of
        // the failure that mattered, not of the clean-up's.
        if (read.cut) {
            // See renameCheckingSize: a cut file must not stay under the name.
            queueRemoval(read.renamed ? target : stored.tempPath);
            placed.failure = Failure{ErrorUploadSizeMismatch, {}};
        } else if (!read.renamed) {
            queueRemoval(stored.tempPath);
            const FtpReply& refusal = read.renameFrom->isIntermediate() ? *read.renameTo : *read.renameFrom;
            placed.failure = Failure{ErrorExtendedError, refusal.text};
        } else {
            placed.ok = true;
            if (read.timeSet)
                placed.storedTime = stored.modified;
            else if (read.storedTime)
                placed.storedTime = parseMdtmReply(read.storedTime->text);
        }
        whenPlaced(placed);
    };
    return m_control->queue(step.commands, std::move(onReplies));
}

bool FtpConnection::modificationTimes(const QStringList& remoteFiles, std::vector<std::optional<QDateTime>>& times) {
    return d->track(d->askModificationTimes(remoteFiles, times));
}

bool FtpConnection::setsNoModificationTimes() const {
    return d->setsNoTimes();
}

} // namespace inet
