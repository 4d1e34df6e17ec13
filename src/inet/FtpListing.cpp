// Folder listings of one FTP connection: over a data connection (MLSD,
// LIST) or the control connection (STAT), and the checks that a listing is whole.
#include "inet/FtpConnectionPrivate.h"

#include "inet/InetPrivate.h"
#include "inet/ListingParser.h"

namespace inet {

namespace {

// The most bytes of one listing over a data connection that are kept: some
// million entries, far beyond any real folder. Reaching it fails the listing;
// it is never taken as the whole folder.
constexpr qsizetype MaxListingBytes = 256 * 1024 * 1024;

bool isStatListing(const FtpReply& reply) {
    return reply.code == 211 || reply.code == 212 || reply.code == 213;
}

// Whether a Unix-form listing shows the listed folder's own "." entry.
bool showsOwnFolder(const QStringList& lines) {
    return std::any_of(lines.cbegin(), lines.cend(), [](const QString& line) {
        return line.startsWith(QLatin1Char('d')) && line.endsWith(QLatin1String(" ."));
    });
}

// The lines between the first and the last line of a multi-line reply.
QStringList replyBody(const FtpReply& reply) {
    QStringList lines = reply.text.split(QStringLiteral("\r\n"));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() < 2)
        return {};
    return lines.mid(1, lines.size() - 2);
}

// Whether a listing line is the listed folder's own entry or its parent's:
// "." and ".." in the Unix form, cdir and pdir in MLSD (RFC 3659, 7.5.1).
bool isOwnOrParentLine(const QString& line, bool mlsd) {
    if (!mlsd)
        return line.startsWith(QLatin1Char('d')) &&
               (line.endsWith(QLatin1String(" .")) || line.endsWith(QLatin1String(" ..")));
    const qsizetype split = line.indexOf(QLatin1String("; "));
    if (split <= 0)
        return false;
    const QStringList facts = line.left(split).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    return std::any_of(facts.cbegin(), facts.cend(), [](const QString& fact) {
        return fact.compare(QLatin1String("type=cdir"), Qt::CaseInsensitive) == 0 ||
               fact.compare(QLatin1String("type=pdir"), Qt::CaseInsensitive) == 0;
    });
}

// vsftpd ends the empty listing of a folder it may enter but not read with
// "226 Transfer done (but failed to open directory)."; a completion reply
// that speaks of failure has not listed the folder.
bool completionSaysFailed(const QString& replyText) {
    return replyText.contains(QLatin1String("fail"), Qt::CaseInsensitive);
}

} // namespace

bool FtpConnectionPrivate::listWith(const QString& command, ListingForm form, std::vector<FindData>& entries) {
    QByteArray raw;
    const auto collect = [&raw, this](const QByteArray& chunk) {
        if (raw.size() + chunk.size() > MaxListingBytes)
            return fail(ErrorListingIncomplete);
        raw += chunk;
        return true;
    };
    const Milliseconds inactivity = m_parameters.timeouts.data;
    if (!transferCommand(command, [&](DataConnection& data) { return data.receive(collect, inactivity); }))
        return false;
    // The last response is the reply that closed the transfer.
    if (completionSaysFailed(lastResponseInfo()))
        return fail(ErrorListingIncomplete);
    QStringList lines;
    for (QByteArray line : raw.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(decodeServerText(line));
    }
    if (!holdsOwnEntries(lines, form))
        return fail(ErrorListingIncomplete);
    takeListingLines(lines, form == ListingForm::Mlsd, entries);
    return true;
}

void FtpConnectionPrivate::takeListingLines(const QStringList& lines, bool mlsd, std::vector<FindData>& entries) {
    entries.clear();
    unrecognisedListingLines.clear();
    const QDate today = QDate::currentDate();
    for (const QString& text : lines) {
        if (text.isEmpty())
            continue;
        ListingLine parsed = mlsd ? readMlsdLine(text) : readListLine(text, today);
        if (parsed.kind == ListingLine::Kind::Entry)
            entries.push_back(std::move(parsed.entry));
        else if (parsed.kind == ListingLine::Kind::Unrecognised)
            unrecognisedListingLines.append(text);
    }
}

bool FtpConnectionPrivate::holdsOwnEntries(const QStringList& lines, ListingForm form) {
    if (form == ListingForm::Plain)
        return true; // plain LIST and STAT hide "." and ".." on most servers
    const bool mlsd = form == ListingForm::Mlsd;
    const Capability shown = mlsd ? ListsCdir : ListsDotEntries;
    if (std::any_of(lines.cbegin(), lines.cend(),
                    [mlsd](const QString& line) { return isOwnOrParentLine(line, mlsd); })) {
        m_capabilities |= shown;
        return true;
    }
    // vsftpd shows "." and ".." in every "-a" listing of a folder it can
    // read: one without them is a folder it could not read, or a cut listing.
    return !(m_capabilities & shown);
}

bool FtpConnectionPrivate::isWholeStatListing(const FtpReply& reply, const QStringList& body, ListingForm form) {
    // vsftpd answers STAT of a folder it may enter but not read with an
    // empty listing: STAT cannot tell such a folder from an empty one.
    return isStatListing(reply) && !reply.overflowed && !body.isEmpty() && holdsOwnEntries(body, form);
}

bool FtpConnectionPrivate::mayListWithStat() const {
    // MLSD's times are exact and in UTC; LIST-form times are not, so STAT is
    // used where the server offers no MLSD anyway, or where the caller has
    // said it can do without exact times. Proxies may not pass it.
    const bool mlsdFirst = (m_capabilities & OffersMlsd) && !m_controlListingsWanted;
    return !mlsdFirst && !(m_capabilities & RefusedStat) && !m_parameters.proxy;
}

bool FtpConnectionPrivate::mayListWithStat(const QString& folder) const {
    return mayListWithStat() && !m_statOverflowed.contains(folder);
}

QString FtpConnectionPrivate::statCommand() const {
    return (m_capabilities & StatWithoutA) ? QStringLiteral("STAT .") : QStringLiteral("STAT -a .");
}

FtpConnectionPrivate::ListingForm FtpConnectionPrivate::statForm() const {
    return (m_capabilities & StatWithoutA) ? ListingForm::Plain : ListingForm::WithDotEntries;
}

bool FtpConnectionPrivate::learnStatRefusal(const FtpReply& reply) {
    if (!(m_capabilities & StatWithoutA) && reply.code / 100 == 5 && !isUnknownCommandReply(reply)) {
        m_capabilities |= StatWithoutA; // "-a ." taken for a name
        return true;
    }
    m_capabilities |= RefusedStat;
    return false;
}

bool FtpConnectionPrivate::listByStatPath(const QString& folder, std::vector<FindData>& entries, bool& connectionLost) {
    connectionLost = false;
    const QString stat = QStringLiteral("STAT -a ") + folder;
    if ((m_capabilities & (StatWithoutA | StatNeedsCwd)) || !ControlConnection::isSendable(stat))
        return false;
    FtpReply reply;
    if (!m_control->command(stat, reply)) {
        connectionLost = true;
        return false;
    }
    if (reply.overflowed) {
        m_statOverflowed.insert(folder);
        return false;
    }
    // A folder that is missing or closed to us may well list as empty: only
    // its own "." entry proves that this is the folder's listing.
    const QStringList body = replyBody(reply);
    if (!isStatListing(reply) || !showsOwnFolder(body))
        return false;
    m_capabilities |= StatPathProven | ListsDotEntries;
    takeListingLines(body, false, entries);
    return true;
}

bool FtpConnectionPrivate::listsPathsByStat() const {
    const Capabilities proven = m_capabilities & (StatPathProven | StatWithoutA | StatNeedsCwd);
    return proven == StatPathProven;
}

bool FtpConnectionPrivate::mayListByStatTogether() const {
    return mayListWithStat() && (listsPathsByStat() || (m_capabilities & StatOfCurrentProven));
}

bool FtpConnectionPrivate::listByStatTogether(const QStringList& folders, std::vector<FolderListing>& listings) {
    listings.assign(size_t(folders.size()), FolderListing{});
    if (!ensureConnected())
        return false;
    if (!mayListByStatTogether())
        return true;
    if (!listsPathsByStat())
        return listByEnteringTogether(folders, listings);
    std::vector<std::optional<FtpReply>> replies;
    if (!m_control->askEach(QStringLiteral("STAT -a"), folders, folders.size(), replies))
        return false;
    for (size_t i = 0; i < replies.size(); ++i) {
        if (!replies[i])
            continue;
        // A listing cut at the size limit is left to a data connection.
        if (replies[i]->overflowed) {
            m_statOverflowed.insert(folders.at(qsizetype(i)));
            continue;
        }
        // As for one folder: only its own "." entry proves the listing.
        const QStringList body = replyBody(*replies[i]);
        if (!isStatListing(*replies[i]) || !showsOwnFolder(body))
            continue;
        FolderListing& listing = listings[i];
        takeListingLines(body, false, listing.entries);
        listing.unrecognisedLines = unrecognisedListingLines;
        listing.listed = true;
    }
    return true;
}

bool FtpConnectionPrivate::listByEnteringTogether(const QStringList& folders, std::vector<FolderListing>& listings) {
    // A STAT of "." right after a CWD that worked lists that folder. After
    // a CWD that failed it lists whatever folder the connection was in, so
    // a pair counts only with its CWD done; absolute paths keep each pair
    // apart from those before it.
    const QString stat = statCommand();
    QStringList commands;
    std::vector<size_t> asked;
    for (qsizetype i = 0; i < folders.size(); ++i) {
        const QString& folder = folders.at(i);
        const QString enter = QStringLiteral("CWD ") + folder;
        if (!folder.startsWith(QLatin1Char('/')) || m_statOverflowed.contains(folder) ||
            !ControlConnection::isSendable(enter))
            continue;
        commands << enter << stat;
        asked.push_back(size_t(i));
    }
    if (commands.isEmpty())
        return true;
    std::vector<FtpReply> replies;
    if (!m_control->commandsTogether(commands, replies))
        return false;
    for (size_t k = 0; k < asked.size(); ++k) {
        if (!replies[2 * k].isCompletion())
            continue;
        const QString& folder = folders.at(qsizetype(asked[k]));
        // The connection stays in the last folder entered, as after enterAndList.
        rememberDirectoryChange(folder);
        takeWholeStatListing(folder, replies[2 * k + 1], listings[asked[k]]);
    }
    return true;
}

void FtpConnectionPrivate::takeWholeStatListing(const QString& folder, const FtpReply& reply, FolderListing& listing) {
    if (reply.overflowed) {
        m_statOverflowed.insert(folder); // left to a data connection
        return;
    }
    // Empty is not whole: a folder that may be entered but not read lists
    // as empty on some servers.
    const QStringList body = replyBody(reply);
    if (!isWholeStatListing(reply, body, statForm()))
        return;
    takeListingLines(body, false, listing.entries);
    listing.unrecognisedLines = unrecognisedListingLines;
    listing.listed = true;
}

bool FtpConnectionPrivate::enterAndList(const QString& folder, std::vector<FindData>& entries, bool& entered) {
    entered = false;
    if (!ensureConnected())
        return false;
    if (mayListWithStat(folder)) {
        bool connectionLost = false;
        if (listByStatPath(folder, entries, connectionLost)) {
            entered = true;
            return true;
        }
        if (connectionLost)
            return false;
    }
    // Checked again: the STAT of the path may have overflowed.
    if (mayListWithStat(folder))
        return enterAndListByStat(folder, entries, entered);
    // An FTP proxy answers some commands itself (EPSV refused) ahead of the
    // server's replies to earlier ones: nothing rides through it.
    if (folder != QLatin1String("..") && !m_parameters.proxy) {
        // The CWD rides with the listing's first command, one round trip less
        // for each folder. Its reply comes first; whatever is listed after a
        // refused CWD is the folder the connection was in, and is dropped.
        bool answered = false; // or failed with the connection
        std::optional<FtpReply> changed;
        const QString change = QStringLiteral("CWD ") + folder;
        const auto takeReply = [this, &answered, &changed, &folder](const std::vector<FtpReply>* replies) {
            answered = true;
            if (!replies)
                return;
            changed = replies->front();
            if (changed->isCompletion())
                rememberDirectoryChange(folder);
        };
        if (m_control->queue({change}, takeReply)) {
            bool listed = listDirectory(entries);
            if (!answered && m_control) {
                // The listing failed before anything went out: the CWD goes
                // alone, never later with some other command.
                ErrorStateGuard keep(m_errors);
                m_control->flushQueued();
                listed = false;
            }
            if (!changed) { // the connection failed before the CWD's reply came
                if (listed)
                    fail(ErrorConnectionAborted);
                return false;
            }
            if (!changed->isCompletion()) {
                entries.clear();
                unrecognisedListingLines.clear();
                setLastResponseInfo(changed->text);
                return fail(ErrorExtendedError);
            }
            entered = true;
            return listed;
        }
    }
    if (!changeDirectory(folder))
        return false;
    entered = true;
    return listDirectory(entries);
}

bool FtpConnectionPrivate::enterAndListByStat(const QString& folder, std::vector<FindData>& entries, bool& entered) {
    std::vector<FtpReply> replies;
    if (!m_control->commandsTogether({QStringLiteral("CWD ") + folder, statCommand()}, replies))
        return false;
    if (!requireClasses(replies, {2, AnyClass}))
        return false;
    entered = true;
    rememberDirectoryChange(folder);
    FtpReply& statReply = replies[1];
    if (isStatListing(statReply)) {
        // Listed, yet the path alone did not show ".": this server's STAT
        // of a path is not to be trusted on its own.
        const QStringList body = replyBody(statReply);
        if (!statReply.overflowed && !body.isEmpty() && !showsOwnFolder(body))
            m_capabilities |= StatNeedsCwd;
        if (!isWholeStatListing(statReply, body, statForm()))
            return listDirectory(entries);
        m_capabilities |= StatOfCurrentProven;
        takeListingLines(body, false, entries);
        return true;
    }
    // Once STAT has listed a folder, a refusal is about this folder, not the
    // command (pyftpdlib: "550 Permission denied." for a folder it may enter
    // but not read): STAT stays in use for the others.
    if (m_capabilities & StatOfCurrentProven)
        return listDirectory(entries);
    if (learnStatRefusal(statReply) && mayListWithStat()) {
        if (!m_control->command(statCommand(), statReply))
            return false;
        if (isStatListing(statReply)) {
            const QStringList body = replyBody(statReply);
            if (!isWholeStatListing(statReply, body, statForm()))
                return listDirectory(entries);
            m_capabilities |= StatOfCurrentProven;
            takeListingLines(body, false, entries);
            return true;
        }
        m_capabilities |= RefusedStat;
    }
    return listDirectory(entries);
}

bool FtpConnectionPrivate::listDirectory(std::vector<FindData>& entries) {
    if ((m_capabilities & OffersMlsd) && !(m_capabilities & RefusedMlsd)) {
        if (listWith(QStringLiteral("MLSD"), ListingForm::Mlsd, entries))
            return true;
        if (lastError() != ErrorExtendedError || !isUnknownCommandReply(FtpReply{replyCodeOf(lastResponseInfo()), {}}))
            return false;
        m_capabilities |= RefusedMlsd;
    }
    if (m_capabilities & RefusedListA)
        return listWith(QStringLiteral("LIST"), ListingForm::Plain, entries);
    // Without -a many servers hide dot-files (.htaccess) from LIST. A listing
    // that failed as a listing (not as a command) is not tried again without
    // it: plain LIST would show such a folder as empty.
    if (listWith(QStringLiteral("LIST -a"), ListingForm::WithDotEntries, entries))
        return true;
    if (lastError() != ErrorExtendedError)
        return false;
    if (!listWith(QStringLiteral("LIST"), ListingForm::Plain, entries))
        return false;
    m_capabilities |= RefusedListA;
    return true;
}

} // namespace inet
