#include "project/VellisyncProject.h"
#include "sync/SyncRun.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <set>

#include "sync/FtpHelpers.h"
#include "model/Errors.h"
#include "support/FtpTestServer.h"
#include "support/ProxyProcesses.h"
#include "support/QtPrinters.h"
#include "support/TestFiles.h"
#include "support/TlsFixtures.h"
#include "integration/SyncRunFixture.h"

namespace {

const QStringList ConnectAndScanLines{"Opening FTP by using default settings...",
                                      "Done!",
                                      "Collecting local files...",
                                      "Done!",
                                      "Collecting FTP files...",
                                      "Done!"};

TEST_F(SyncRunTest, LocalToRemoteExactLogsTheDocumentedSequence) {
    writeFile(local("a.txt"), "A", at(2, 9, 0));
    writeFile(local("sub/b.txt"), "B", at(2, 9, 0));
    writeFile(remote("old.txt"), "old", at(1, 9, 0));
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    m_project.Exact = true;
    startServer();
    m_project.Run();

    ASSERT_GE(m_log.size(), 10) << m_log.join('\n').toStdString();
    EXPECT_EQ(m_log.mid(0, 6), ConnectAndScanLines);
    const std::set<QString> uploads(m_log.begin() + 6, m_log.begin() + 8);
    EXPECT_EQ(uploads, (std::set<QString>{"File " + localRoot() + "a.txt has been uploaded",
                                          "File " + localRoot() + "sub/b.txt has been uploaded"}));
    EXPECT_EQ(m_log.mid(8), (QStringList{"Remote file /old.txt has been deleted",
                                         "2 files has been uploaded, 1 files has been deleted."}));
    EXPECT_EQ(tree(m_remoteDir.path()), (std::set<QString>{"a.txt", "sub/b.txt"}));
    EXPECT_EQ(readFile(remote("sub/b.txt")), "B");
    EXPECT_TRUE(m_project.LastRunOutcome().completed);
    EXPECT_EQ(m_project.LastRunOutcome().failedActions, 0);
    EXPECT_FALSE(m_project.ConnectHandle());
    EXPECT_FALSE(m_project.InternetHandle());
}

struct ModeCase {
    int mode;
    bool exact;
    std::set<QString> localTree;
    std::set<QString> remoteTree;
    QString summary;
    std::set<QString> actions; // the action lines, as templates with L and R for the roots
};

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << "mode " << c.mode << (c.exact ? " exact" : "");
}

class SyncModeTest : public SyncRunTest, public ::testing::WithParamInterface<ModeCase> {};

// Both sides hold: onlyLocal.txt, onlyRemote.txt, same.txt (same minute),
// newerLocal.txt and newerRemote.txt. Contents tell the side a copy came from.
TEST_P(SyncModeTest, CopiesAndDeletesAsTheModeSays) {
    const ModeCase& c = GetParam();
    writeFile(local("onlyLocal.txt"), "local", at(1, 10, 0));
    writeFile(remote("sub/onlyRemote.txt"), "remote", at(1, 10, 0));
    writeFile(local("same.txt"), "local", at(1, 10, 0, 4));
    writeFile(remote("same.txt"), "remote", at(1, 10, 0, 58));
    writeFile(local("newerLocal.txt"), "local", at(2, 10, 0));
    writeFile(remote("newerLocal.txt"), "remote", at(1, 10, 0));
    writeFile(local("newerRemote.txt"), "local", at(1, 10, 0));
    writeFile(remote("newerRemote.txt"), "remote", at(2, 10, 0));
    m_project.SyncMode = setting::SyncMode(c.mode);
    m_project.Exact = c.exact;
    startServer();
    m_project.Run();

    EXPECT_EQ(m_log.mid(0, 6), ConnectAndScanLines);
    QStringList actions = afterScans();
    ASSERT_FALSE(actions.isEmpty());
    EXPECT_EQ(actions.takeLast(), c.summary);
    std::set<QString> expected;
    for (QString line : c.actions)
        expected.insert(line.replace(QStringLiteral("L/"), localRoot()));
    EXPECT_EQ(std::set<QString>(actions.begin(), actions.end()), expected);
    EXPECT_EQ(tree(m_localDir.path()), c.localTree);
    EXPECT_EQ(tree(m_remoteDir.path()), c.remoteTree);
    // Whatever was copied carries the content of its source side.
    if (c.mode != 0) {
        EXPECT_EQ(readFile(local("newerRemote.txt")), "remote");
    }
    if (c.mode != 1) {
        EXPECT_EQ(readFile(remote("newerLocal.txt")), "local");
    }
    EXPECT_EQ(readFile(local("same.txt")), "local");
    EXPECT_EQ(readFile(remote("same.txt")), "remote");
}

const std::set<QString> BothTrees{"onlyLocal.txt", "sub/onlyRemote.txt", "same.txt", "newerLocal.txt",
                                  "newerRemote.txt"};
const std::set<QString> WithoutOnlyLocal{"sub/onlyRemote.txt", "same.txt", "newerLocal.txt", "newerRemote.txt"};
const std::set<QString> WithoutOnlyRemote{"onlyLocal.txt", "same.txt", "newerLocal.txt", "newerRemote.txt"};
const std::set<QString> Uploads{"File L/onlyLocal.txt has been uploaded", "File L/newerLocal.txt has been uploaded"};
const std::set<QString> Downloads{"File /sub/onlyRemote.txt has been downloaded",
                                  "File /newerRemote.txt has been downloaded"};

std::set<QString> plus(std::set<QString> a, const std::set<QString>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SyncModeTest,
    ::testing::Values(ModeCase{0, false, WithoutOnlyRemote, BothTrees, "2 files has been uploaded.", Uploads},
                      ModeCase{0, true, WithoutOnlyRemote, WithoutOnlyRemote,
                               "2 files has been uploaded, 1 files has been deleted.",
                               plus(Uploads, {"Remote file /sub/onlyRemote.txt has been deleted"})},
                      ModeCase{1, false, BothTrees, WithoutOnlyLocal, "2 files has been downloaded.", Downloads},
                      ModeCase{1, true, WithoutOnlyLocal, WithoutOnlyLocal,
                               "2 files has been downloaded, 1 files has been deleted.",
                               plus(Downloads, {"Local file L/onlyLocal.txt has been deleted"})},
                      ModeCase{2, false, BothTrees, BothTrees,
                               "2 files has been downloaded, 2 files has been uploaded.", plus(Downloads, Uploads)},
                      ModeCase{2, true, BothTrees, BothTrees, "2 files has been downloaded, 2 files has been uploaded.",
                               plus(Downloads, Uploads)}));

TEST_F(SyncRunTest, UnknownModeScansButTouchesNothing) {
    writeFile(local("a.txt"), "A", at(1, 9, 0));
    writeFile(remote("b.txt"), "B", at(1, 9, 0));
    m_project.SyncMode = setting::SyncMode(7);
    m_project.Exact = true;
    startServer();
    m_project.Run();
    EXPECT_EQ(m_log, ConnectAndScanLines);
    EXPECT_EQ(tree(m_localDir.path()), std::set<QString>{"a.txt"});
    EXPECT_EQ(tree(m_remoteDir.path()), std::set<QString>{"b.txt"});
}

TEST_F(SyncRunTest, OnlyTheMinuteDecides) {
    writeFile(local("sameMinute.txt"), "local", at(1, 10, 0, 4));
    writeFile(remote("sameMinute.txt"), "remote", at(1, 10, 0, 58));
    writeFile(local("nextMinute.txt"), "local", at(1, 10, 0, 58));
    writeFile(remote("nextMinute.txt"), "remote", at(1, 10, 1, 0));
    writeFile(local("sizes.txt"), "a much longer local text", at(1, 10, 5, 1));
    writeFile(remote("sizes.txt"), "short", at(1, 10, 5, 59));
    m_project.SyncMode = setting::SyncMode::Bidirectional;
    startServer();
    m_project.Run();
    EXPECT_EQ(afterScans(), (QStringList{"File /nextMinute.txt has been downloaded",
                                         "1 files has been downloaded, 0 files has been uploaded."}));
    EXPECT_EQ(readFile(local("nextMinute.txt")), "remote");
    EXPECT_EQ(readFile(local("sameMinute.txt")), "local");
    EXPECT_EQ(readFile(remote("sizes.txt")), "short");
    // The download carries the remote time, so the next run sees equal minutes.
    EXPECT_EQ(NaiveDateTime::fromLocal(QFileInfo(local("nextMinute.txt")).lastModified()).toString(),
              at(1, 10, 1, 0).toString());
    m_log.clear();
    m_project.Run();
    EXPECT_EQ(afterScans(), QStringList{"0 files has been downloaded, 0 files has been uploaded."});
}

// Letter case and the encoding of accents (composed on one side, decomposed
// on the other) do not make two files of one. A file that both sides hold is
// replaced under the name the target side gives it, so neither side ever gets
// a second copy under the other spelling.
TEST_F(SyncRunTest, NamesMatchWithoutRegardToLetterCaseOrAccentEncoding) {
    const QString composed = QStringLiteral("Caf\u00e9.txt");
    const QString decomposed = QStringLiteral("Cafe\u0301.txt");
    writeFile(local("Docs/Readme.TXT"), "local", at(1, 10, 0));
    writeFile(local(composed), "local", at(1, 10, 0));
    writeFile(remote("docs/readme.txt"), "remote", at(1, 10, 0));
    writeFile(remote(decomposed), "remote", at(1, 10, 0));
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    m_project.Exact = true;
    startServer();
    m_project.Run();
    EXPECT_EQ(afterScans(), QStringList{"0 files has been uploaded, 0 files has been deleted."});

    writeFile(local("Docs/Readme.TXT"), "newer", at(2, 10, 0));
    writeFile(local(composed), "newer", at(2, 10, 0));
    m_log.clear();
    m_project.Run();
    EXPECT_EQ(afterScans().last(), QStringLiteral("2 files has been uploaded, 0 files has been deleted."));
    EXPECT_EQ(tree(m_remoteDir.path()), (std::set<QString>{"docs/readme.txt", decomposed}));
    EXPECT_EQ(readFile(remote("docs/readme.txt")), "newer");
    EXPECT_EQ(readFile(remote(decomposed)), "newer");

    writeFile(remote(decomposed), "newest", at(3, 10, 0));
    writeFile(remote("docs/readme.txt"), "newer", at(2, 10, 0)); // as old as the local copy again
    m_log.clear();
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_project.Run();
    EXPECT_EQ(afterScans().last(), QStringLiteral("1 files has been downloaded, 0 files has been deleted."));
    EXPECT_EQ(tree(m_localDir.path()), (std::set<QString>{"Docs/Readme.TXT", composed}));
    EXPECT_EQ(readFile(local(composed)), "newest");
}

TEST_F(SyncRunTest, MasksAndSubfoldersSelectOnBothSides) {
    for (const char* name : {"a.txt", "a.bak", "README", "sub/b.txt", "sub/b.bak"}) {
        writeFile(local(QString::fromUtf8(name)), "x", at(1, 10, 0));
        writeFile(remote(QString::fromUtf8(name)), "x", at(1, 10, 0));
    }
    m_project.ExcludeMasks = QStringLiteral("*.bak");
    startServer();
    ASSERT_TRUE(m_project.Connect());
    m_project.CollectLocalFiles();
    m_project.CollectRemoteFiles();
    EXPECT_EQ(sortedNames(m_project.LocalFiles()), (QStringList{"README", "a.txt", "sub/b.txt"}));
    EXPECT_EQ(sortedNames(m_project.RemoteFiles()), (QStringList{"README", "a.txt", "sub/b.txt"}));

    m_project.SubFilders = false;
    m_project.IncludeMasks = QStringLiteral("* \"*.txt\"");
    m_project.CollectLocalFiles();
    m_project.CollectRemoteFiles();
    EXPECT_EQ(sortedNames(m_project.LocalFiles()), (QStringList{"README", "a.txt"}));
    EXPECT_EQ(sortedNames(m_project.RemoteFiles()), (QStringList{"README", "a.txt"}));
    m_project.Disconnect();
}

TEST_F(SyncRunTest, RemoteScanListsAFoldersFilesBeforeItsSubfolders) {
    writeFile(remote("a/f1"), "1", at(1, 10, 0));
    writeFile(remote("a/b/f2"), "2", at(1, 10, 0));
    writeFile(remote("a/f3"), "3", at(1, 10, 0));
    writeFile(remote("a/.f1.vstmp"), "leftover", at(1, 10, 0));
    startServer();
    ASSERT_TRUE(m_project.Connect());
    QString before;
    ASSERT_TRUE(m_project.ConnectHandle()->getCurrentDirectory(before));
    m_project.CollectRemoteFiles();
    ASSERT_EQ(m_project.RemoteFiles().Count(), 3);
    const std::set<QString> firstTwo{m_project.RemoteFiles().Strings(0), m_project.RemoteFiles().Strings(1)};
    EXPECT_EQ(firstTwo, (std::set<QString>{"a/f1", "a/f3"}));
    EXPECT_EQ(m_project.RemoteFiles().Strings(2), QStringLiteral("a/b/f2"));
    QString after;
    ASSERT_TRUE(m_project.ConnectHandle()->getCurrentDirectory(after));
    EXPECT_EQ(after, before) << "the scan puts the current folder back";
    EXPECT_TRUE(m_project.LastRunOutcome().remoteScanComplete);
    m_project.Disconnect();
}

TEST_F(SyncRunTest, RefusedRemoteSubfolderIsLoggedSkippedAndPreventsLocalDeletion) {
    writeFile(remote("a.txt"), "A", at(1, 10, 0));
    writeFile(remote("secret/s.txt"), "S", at(1, 10, 0));
    writeFile(remote("z/z.txt"), "Z", at(1, 10, 0));
    writeFile(local("secret/s.txt"), "local copy", at(1, 10, 0));
    writeFile(local("extra.txt"), "only here", at(1, 10, 0));
    m_options.denyCwd = QStringList{QStringLiteral("secret")};
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_project.Exact = true;
    startServer();
    m_project.Run();

    EXPECT_TRUE(
        m_log.contains(QStringLiteral("FtpSetCurrentDirectory(secret) fails with message: 550 Permission denied.")))
        << m_log.join('\n').toStdString();
    const std::set<QString> tail(m_log.end() - 5, m_log.end() - 1);
    EXPECT_EQ(tail, (std::set<QString>{
                        "File /a.txt has been downloaded", "File /z/z.txt has been downloaded",
                        "Local files have not been deleted because the remote folder could not be read completely.",
                        "2 files has been downloaded, 0 files has been deleted."}));
    EXPECT_EQ(m_log.mid(m_log.size() - 2), (QStringList{"2 files has been downloaded, 0 files has been deleted.",
                                                        "This run met 1 problem(s): see the lines above."}));
    EXPECT_EQ(tree(m_localDir.path()), (std::set<QString>{"a.txt", "z/z.txt", "secret/s.txt", "extra.txt"}));
    EXPECT_FALSE(m_project.LastRunOutcome().remoteScanComplete);
    EXPECT_TRUE(m_project.LastRunOutcome().remoteRootReached);
}

TEST_F(SyncRunTest, MissingLocalRootPreventsRemoteDeletion) {
    writeFile(remote("keep.txt"), "K", at(1, 10, 0));
    m_project.LocalFolder = local(QStringLiteral("not-there"));
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    m_project.Exact = true;
    startServer();
    m_project.Run();
    EXPECT_EQ(afterScans(),
              (QStringList{"Remote files have not been deleted because the local folder could not be read completely.",
                           "0 files has been uploaded, 0 files has been deleted."}));
    EXPECT_EQ(tree(m_remoteDir.path()), std::set<QString>{"keep.txt"});
    EXPECT_FALSE(m_project.LastRunOutcome().localRootReached);
}

TEST_F(SyncRunTest, UnreachableRemoteFolderPreventsLocalDeletion) {
    writeFile(local("keep.txt"), "K", at(1, 10, 0));
    m_project.RemoteFolder = QStringLiteral("/not-there");
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_project.Exact = true;
    startServer();
    m_project.Run();
    // No "Done!" after the remote scan line.
    EXPECT_EQ(m_log.mid(0, 5), ConnectAndScanLines.mid(0, 5));
    EXPECT_EQ(m_log.mid(5),
              (QStringList{"Local files have not been deleted because the remote folder could not be read completely.",
                           "0 files has been downloaded, 0 files has been deleted."}));
    EXPECT_EQ(tree(m_localDir.path()), std::set<QString>{"keep.txt"});
}

TEST_F(SyncRunTest, StopFromTheLogFinishesTheFileInHand) {
    for (const char* name : {"f1.txt", "f2.txt", "f3.txt"})
        writeFile(remote(QString::fromUtf8(name)), "R", at(1, 10, 0));
    writeFile(local("up.txt"), "L", at(1, 10, 0));
    m_project.SyncMode = setting::SyncMode::Bidirectional;
    // On one connection the files in hand when the first is reported are that
    // one and, where its last reply rode with the next request, the next.
    m_project.Connections = 1;
    m_onLine = [this](const QString& line) {
        if (line.endsWith(QStringLiteral("has been downloaded")))
            m_project.RequestStop();
    };
    startServer();
    m_project.Run();
    const QStringList tail = afterScans();
    ASSERT_TRUE(tail.size() == 3 || tail.size() == 4) << m_log.join('\n').toStdString();
    const qsizetype arrived = tail.size() - 2;
    for (qsizetype i = 0; i < arrived; ++i)
        EXPECT_TRUE(tail[i].endsWith(QStringLiteral("has been downloaded")));
    EXPECT_EQ(tail[arrived], QStringLiteral("%1 files has been downloaded, 0 files has been uploaded.").arg(arrived));
    EXPECT_EQ(tail[arrived + 1], QStringLiteral("Task has been stopped by user"));
    EXPECT_EQ(tree(m_localDir.path()).size(), size_t(arrived) + 1);
    EXPECT_TRUE(m_project.LastRunOutcome().stopped);
    EXPECT_FALSE(m_project.ConnectHandle());
}

TEST_F(SyncRunTest, WrongPasswordGivesExactlyTwoLines) {
    m_project.Password = QStringLiteral("wrong");
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    startServer();
    m_project.Run();
    ASSERT_EQ(m_log.size(), 2) << m_log.join('\n').toStdString();
    EXPECT_EQ(m_log[0], QStringLiteral("Opening FTP by using default settings..."));
    EXPECT_TRUE(m_log[1].startsWith(QStringLiteral("InternetConnect fails with message: 530 ")))
        << m_log[1].toStdString();
    EXPECT_FALSE(m_log[1].endsWith(QLatin1Char('\n')));
    EXPECT_FALSE(m_project.LastRunOutcome().connected);
    EXPECT_FALSE(m_project.InternetHandle());
}

TEST_F(SyncRunTest, UnknownHostAndClosedPortGiveTheirFailureLines) {
    // A label longer than 63 characters fails in the local resolver, so no
    // query leaves the machine.
    m_project.Server = QString(64, QLatin1Char('a')) + QStringLiteral(".invalid");
    m_project.Port = 21;
    m_project.Run();
    ASSERT_EQ(m_log.size(), 2);
    EXPECT_EQ(m_log[1], QStringLiteral("InternetConnect fails with message: ") + ErrorText(inet::ErrorNameNotResolved));

    m_log.clear();
    m_project.Server = QStringLiteral("127.0.0.1");
    m_project.Port = 1; // nothing listens there
    m_project.Run();
    ASSERT_EQ(m_log.size(), 2);
    EXPECT_EQ(m_log[1], QStringLiteral("InternetConnect fails with message: ") + ErrorText(inet::ErrorCannotConnect));
}

TEST_F(SyncRunTest, DownloadCreatesMissingLocalFolders) {
    writeFile(remote("sub/deeper/f.txt"), "deep", at(1, 10, 0));
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    startServer();
    m_project.Run();
    EXPECT_EQ(afterScans(),
              (QStringList{"File /sub/deeper/f.txt has been downloaded", "1 files has been downloaded."}));
    EXPECT_EQ(readFile(local("sub/deeper/f.txt")), "deep");
}

TEST_F(SyncRunTest, UploadCreatesRemoteFoldersLevelByLevel) {
    writeFile(local("a/b/f.txt"), "F", at(1, 10, 0));
    QDir().mkpath(remote("pub"));
    m_project.RemoteFolder = QStringLiteral("/pub");
    startServer();
    ASSERT_TRUE(m_project.Connect());
    m_log.clear();
    ASSERT_TRUE(m_project.UploadFile(QStringLiteral("a/b/f.txt")));
    EXPECT_EQ(m_log, QStringList{"File " + localRoot() + "a/b/f.txt has been uploaded"});
    QStringList made;
    for (const QString& command : m_project.ConnectHandle()->transcript()) {
        if (command.startsWith(QStringLiteral("MKD ")))
            made.append(command);
    }
    EXPECT_EQ(made, (QStringList{"MKD /pub/a", "MKD /pub/a/b"}));
    EXPECT_EQ(readFile(remote("pub/a/b/f.txt")), "F");
    m_project.Disconnect();
}

TEST_F(SyncRunTest, RefusedRemoteFolderEndsThatUploadWithOneLine) {
    writeFile(local("a/f.txt"), "F", at(1, 10, 0));
    writeFile(local("a/g.txt"), "G", at(1, 10, 0));
    QDir().mkpath(remote("pub"));
    m_options.readOnlyDirs = QStringList{QStringLiteral("pub")};
    m_project.RemoteFolder = QStringLiteral("/pub");
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    startServer();
    m_project.Run();
    const QString failure = QStringLiteral(
        "FtpCreateDirectory('/pub/a') fails with message: 550 Can't create directory: Permission denied");
    EXPECT_EQ(afterScans(), (QStringList{failure, failure, "0 files has been uploaded.",
                                         "This run met 2 problem(s): see the lines above."}));
    EXPECT_EQ(m_project.LastRunOutcome().failedActions, 2);
    EXPECT_TRUE(tree(m_remoteDir.path()).empty());
}

TEST_F(SyncRunTest, InvalidMaskIsLoggedAndClosesTheConnection) {
    writeFile(local("a.txt"), "A", at(1, 10, 0));
    m_project.IncludeMasks = QStringLiteral("[a");
    startServer();
    EXPECT_THROW(m_project.Run(), VellisyncError);
    EXPECT_EQ(m_log.mid(0, 3), ConnectAndScanLines.mid(0, 3));
    EXPECT_EQ(m_log.mid(3), QStringList{"Task has been stopped by an error: '[a.' is an invalid mask at (4)"});
    EXPECT_FALSE(m_project.ConnectHandle());
    EXPECT_FALSE(m_project.InternetHandle());
    EXPECT_EQ(m_project.LastRunOutcome().error, QStringLiteral("'[a.' is an invalid mask at (4)"));
}

TEST_F(SyncRunTest, DryRunDecidesButChangesNothing) {
    writeFile(local("up.txt"), "L", at(2, 10, 0));
    writeFile(remote("gone.txt"), "R", at(1, 10, 0));
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    m_project.Exact = true;
    m_project.DryRun = true;
    startServer();
    m_project.Run();
    EXPECT_EQ(afterScans(), (QStringList{"Dry run: no file will be transferred or deleted.",
                                         "Would upload up.txt (not on the server)",
                                         "Would delete remote file gone.txt (not in the local folder)",
                                         "1 files would be uploaded, 1 files would be deleted."}));
    EXPECT_EQ(tree(m_remoteDir.path()), std::set<QString>{"gone.txt"});
    EXPECT_EQ(tree(m_localDir.path()), std::set<QString>{"up.txt"});
}

// One time-out is retried on a fresh logon; a second in a row means that the
// server no longer answers, and the run ends instead of waiting out every file.
TEST_F(SyncRunTest, OneTimeOutIsRetriedAndASecondInARowEndsTheRun) {
    const ShortTimeouts shortTimeouts;
    writeFile(remote("slow.txt"), "S", at(1, 10, 0));
    m_options.stalls = QStringList{QStringLiteral("RETR:1")};
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    startServer();
    m_project.Run();
    EXPECT_EQ(afterScans(), (QStringList{"File /slow.txt has been downloaded", "1 files has been downloaded."}));
    EXPECT_EQ(readFile(local("slow.txt")), "S");

    for (int name = 1; name <= 4; ++name)
        writeFile(remote(QStringLiteral("more%1.txt").arg(name)), "M", at(1, 10, 0));
    m_server.reset();
    m_options.stalls.clear();
    m_options.silentFrom = QStringLiteral("RETR");
    m_log.clear();
    startServer();
    m_project.Run();
    const QStringList tail = afterScans().mid(afterScans().size() - 3);
    EXPECT_EQ(tail.mid(0, 2),
              (QStringList{"0 files has been downloaded.", "The server has stopped answering: the run ends here."}))
        << m_log.join('\n').toStdString();
    EXPECT_TRUE(tail.last().startsWith(QStringLiteral("This run met ")));
    // Each connection gives up on the file in its hands; no further file starts.
    // At most the files in hand fail, two per connection: the one whose last
    // reply was awaited and the one whose request went with it.
    EXPECT_LE(m_log.filter(QStringLiteral(" fails with message: ")).size(), 2 * m_project.Connections)
        << m_log.join('\n').toStdString();
    EXPECT_TRUE(m_project.LastRunOutcome().serverStoppedAnswering);
    EXPECT_FALSE(m_project.ConnectHandle());
}

TEST_F(SyncRunTest, TimedOutListingIsTriedAgain) {
    const ShortTimeouts shortTimeouts;
    writeFile(remote("a.txt"), "A", at(1, 10, 0));
    m_options.stalls = QStringList{QStringLiteral("MLSD:1")};
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    startServer();
    m_project.Run();
    EXPECT_EQ(m_log.mid(0, 6), ConnectAndScanLines);
    EXPECT_EQ(afterScans(), (QStringList{"File /a.txt has been downloaded", "1 files has been downloaded."}));
}

// Replies that mean "not now" (a server or proxy out of data ports) and a
// connection lost in the middle of a transfer are tried again after a short
// pause: every file arrives, and nothing counts as failed.
struct TransientCase {
    const char* name;
    int mode; // 0 upload, 1 download
    QStringList serverArguments;
};

void PrintTo(const TransientCase& c, std::ostream* os) {
    *os << c.name;
}

class TransientFaultTest : public SyncRunTest, public ::testing::WithParamInterface<TransientCase> {};

TEST_P(TransientFaultTest, EveryFileArrives) {
    const bool upload = GetParam().mode == 0;
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("d/f%1.txt").arg(i);
        writeFile(upload ? local(name) : remote(name), "content", at(1, 10, 0));
    }
    m_options.extraArguments = GetParam().serverArguments;
    m_project.SyncMode = setting::SyncMode(GetParam().mode);
    startServer();
    m_project.Run();
    EXPECT_EQ(m_log.last(), upload ? "4 files has been uploaded." : "4 files has been downloaded.")
        << m_log.join('\n').toStdString();
    EXPECT_EQ(tree(upload ? m_remoteDir.path() : m_localDir.path()).size(), 4u);
    EXPECT_EQ(m_project.LastRunOutcome().failedActions, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, TransientFaultTest,
                         ::testing::Values(TransientCase{"RefusedStor", 0, {"--refuse-data", "STOR:3"}},
                                           TransientCase{"RefusedRetr", 1, {"--refuse-data", "RETR:3"}},
                                           TransientCase{"RefusedListing", 1, {"--refuse-data", "MLSD:2"}},
                                           TransientCase{"DroppedAtStor", 0, {"--drop-on", "STOR:2"}},
                                           TransientCase{"DroppedAtRetr", 1, {"--drop-on", "RETR:2"}}),
                         [](const ::testing::TestParamInfo<TransientCase>& info) {
                             return std::string(info.param.name);
                         });

// A server that dies mid-run (its listener gone) ends the run at once, as a
// silent one does: no failure line for each file still to come.
TEST_F(SyncRunTest, ServerThatDiesEndsTheRunAtOnce) {
    for (int i = 0; i < 40; ++i)
        writeFile(remote(QStringLiteral("d%1/f%2.txt").arg(i % 5).arg(i)), "x", at(1, 10, 0));
    m_options.extraArguments = QStringList{"--exit-on", "RETR:5"};
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    startServer();
    m_project.Run();
    EXPECT_TRUE(m_log.contains(QStringLiteral("The server can no longer be reached: the run ends here.")))
        << m_log.join('\n').toStdString();
    // At most the files in hand fail, two per connection: the one whose last
    // reply was awaited and the one whose request went with it.
    EXPECT_LE(m_log.filter(QStringLiteral(" fails with message: ")).size(), 2 * m_project.Connections)
        << m_log.join('\n').toStdString();
    EXPECT_TRUE(m_project.LastRunOutcome().serverStoppedAnswering);
    EXPECT_FALSE(m_project.LastRunOutcome().completed);
}

// Names from either side never carry a control character into a line: a
// name cannot set the terminal's title, colour the output or forge a line.
TEST_F(SyncRunTest, ControlCharactersOfNamesNeverReachTheLog) {
    writeFile(remote(QStringLiteral("g\x1b]0;PWNED\x07.txt")), "G", at(1, 10, 0));
    writeFile(remote(QStringLiteral("\x1b[31mred\u009b.txt")), "R", at(1, 10, 0));
    writeFile(local(QStringLiteral("gone\x1b[2J.txt")), "L", at(1, 10, 0));
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_project.Exact = true;
    startServer();
    m_project.Run();
    const auto isControl = [](QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0); };
    for (const QString& line : std::as_const(m_log))
        EXPECT_TRUE(std::none_of(line.cbegin(), line.cend(), isControl)) << line.toStdString();
    EXPECT_TRUE(m_log.contains(QStringLiteral("File /g\\x1b]0;PWNED\\x07.txt has been downloaded")))
        << m_log.join('\n').toStdString();
    EXPECT_TRUE(m_log.contains(QStringLiteral("File /\\x1b[31mred\\x9b.txt has been downloaded")));
    EXPECT_TRUE(m_log.contains("Local file " + localRoot() + "gone\\x1b[2J.txt has been deleted"));
}

TEST_F(SyncRunTest, LocalFileThatCannotBeDeletedIsLoggedAndThePassGoesOn) {
    QDir().mkpath(local("folder"));
    writeFile(local("b.txt"), "B", at(1, 10, 0));
    EXPECT_FALSE(m_project.DeleteLocalFile(QStringLiteral("folder")));
    EXPECT_FALSE(m_project.DeleteLocalFile(QStringLiteral("missing.txt")));
    EXPECT_TRUE(m_project.DeleteLocalFile(QStringLiteral("b.txt")));
    EXPECT_EQ(m_log, (QStringList{"Error while deleting file " + localRoot() + "folder",
                                  "Error while deleting file " + localRoot() + "missing.txt",
                                  "Local file " + localRoot() + "b.txt has been deleted"}));
    EXPECT_TRUE(QFileInfo(local("folder")).isDir()) << "folders are never deleted";
}

// --- The pool of connections ---------------------------------------------------

// Files a0/f0.txt ... spread over `folders` folders of two levels.
void writeTree(const std::function<QString(const QString&)>& at_, int folders, int filesEach) {
    for (int f = 0; f < folders; ++f) {
        for (int i = 0; i < filesEach; ++i)
            writeFile(at_(QStringLiteral("d%1/e%2/f%3.txt").arg(f % 3).arg(f).arg(i)), "x", at(1, 10, 0));
    }
}

// Listed on several connections at once, the tree comes out in exactly the
// order one connection gives, so the passes and the log do not depend on
// which listing came back first.
// With MLSD (true) or without.
class ServerListingTest : public SyncRunTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Listings, ServerListingTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Mlsd" : "Stat"; });

TEST_P(ServerListingTest, ParallelScanGivesTheSerialOrder) {
    writeTree([this](const QString& name) { return remote(name); }, 24, 3);
    // Without MLSD, a server whose listings show "." lists folders over the
    // control connection, many in one round trip.
    m_options.mlsd = GetParam();
    m_options.logCommands = true;
    if (!GetParam())
        m_options.extraArguments << QStringLiteral("--list-dot");
    startServer();
    QStringList serial;
    for (const int connections : {1, 4}) {
        m_project.Connections = connections;
        ASSERT_TRUE(m_project.Connect());
        m_project.CollectRemoteFiles();
        QStringList names;
        for (int i = 0; i < m_project.RemoteFiles().Count(); ++i)
            names << m_project.RemoteFiles().Strings(i);
        m_project.Disconnect();
        ASSERT_EQ(names.size(), 72);
        if (connections == 1)
            serial = names;
        else
            EXPECT_EQ(names, serial);
    }
    EXPECT_EQ(m_server->serverLog().contains(QStringLiteral("COMMAND STAT")), !GetParam());
}

// A server that takes two logons from us: the pool shrinks with one line and
// the run does all its work on the two.
TEST_F(SyncRunTest, PoolShrinksToWhatTheServerAllows) {
    writeTree([this](const QString& name) { return remote(name); }, 6, 4);
    m_options.maxConnections = 2;
    m_project.Connections = 4;
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    startServer();
    m_project.Run();
    EXPECT_EQ(m_log.filter(QStringLiteral("allows no more connections")).size(), 1) << m_log.join('\n').toStdString();
    EXPECT_EQ(m_log.last(), QStringLiteral("24 files has been downloaded."));
    EXPECT_EQ(tree(m_localDir.path()).size(), 24u);
}

// Concurrent uploads into one new folder create each of its levels once.
TEST_F(SyncRunTest, ConcurrentUploadsCreateAFolderOnce) {
    for (int i = 0; i < 16; ++i)
        writeFile(local(QStringLiteral("new/deep/f%1.txt").arg(i)), "x", at(1, 10, 0));
    m_options.logCommands = true;
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    startServer();
    m_project.Run();
    EXPECT_EQ(m_log.last(), QStringLiteral("16 files has been uploaded."));
    const QString commands = m_server->serverLog();
    EXPECT_EQ(commands.count(QStringLiteral("COMMAND MKD /new\n")), 1) << commands.toStdString();
    EXPECT_EQ(commands.count(QStringLiteral("COMMAND MKD /new/deep\n")), 1);
    EXPECT_EQ(commands.count(QStringLiteral("COMMAND PWD")), 1) << "no folder probe per file";
}

// A stop with transfers in flight: those in hand finish, nothing new starts,
// and the summary counts exactly what arrived.
TEST_F(SyncRunTest, StopWithTransfersInFlight) {
    writeTree([this](const QString& name) { return remote(name); }, 10, 4);
    m_project.Connections = 3;
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_onLine = [this](const QString& line) {
        if (line.endsWith(QStringLiteral("has been downloaded")))
            m_project.RequestStop();
    };
    startServer();
    m_project.Run();
    const int arrived = int(tree(m_localDir.path()).size());
    EXPECT_LT(arrived, 40);
    EXPECT_EQ(m_log.filter(QRegularExpression(QStringLiteral("^File .* has been downloaded$"))).size(), arrived);
    EXPECT_EQ(m_log.mid(m_log.size() - 2), (QStringList{QStringLiteral("%1 files has been downloaded.").arg(arrived),
                                                        "Task has been stopped by user"}));
}

// A connection that drops in the middle logs on again; the run goes on.
TEST_F(SyncRunTest, DroppedConnectionLogsOnAgain) {
    writeTree([this](const QString& name) { return remote(name); }, 4, 5);
    m_options.dropOn = QStringLiteral("RETR:3");
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    startServer();
    m_project.Run();
    EXPECT_LE(m_log.filter(QStringLiteral(" fails with message: ")).size(), 1) << m_log.join('\n').toStdString();
    EXPECT_GE(tree(m_localDir.path()).size(), 19u);
    m_log.clear();
    m_project.Run();
    EXPECT_EQ(tree(m_localDir.path()).size(), 20u) << "the next run fetches what the drop cost";
}

// On one connection a transfer's last reply is read with the next request and
// an upload's rename rides with the one after, never before the server has
// ended the transfer (some servers end a transfer on any command, some answer
// later commands first). A connection lost with either in flight costs no
// file: it goes again. A store the server cut short fails each file and leaves
// nothing, under its name or a temporary one.
TEST_F(SyncRunTest, TransfersInFlightCostNoFile) {
    using setting::SyncMode;
    struct Case {
        const char* name;
        SyncMode mode;
        QStringList serverArguments;
        size_t arrived;
    };
    const Case cases[] = {
        {"upload dropped at a rename", SyncMode::LocalToRemote, {"--drop-on", "RNTO:3"}, 6},
        {"upload stored cut short", SyncMode::LocalToRemote, {"--cut-stor-to", "3"}, 0},
        {"upload ended by an early command", SyncMode::LocalToRemote, {"--abort-on-early-command"}, 6},
        {"upload ended after the next command", SyncMode::LocalToRemote, {"--late-transfer-end"}, 6},
        {"download dropped at a request", SyncMode::RemoteToLocal, {"--drop-on", "RETR:3"}, 6},
        {"download ended by an early command", SyncMode::RemoteToLocal, {"--abort-on-early-command"}, 6},
        {"download ended after the next command", SyncMode::RemoteToLocal, {"--late-transfer-end"}, 6}};
    m_project.Connections = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool up = c.mode == SyncMode::LocalToRemote;
        const QString source = up ? m_localDir.path() : m_remoteDir.path();
        const QString target = up ? m_remoteDir.path() : m_localDir.path();
        for (const QString& folder : {source, target}) {
            for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
                QFile::remove(folder + '/' + name);
        }
        for (int i = 0; i < 6; ++i)
            writeFile(source + QStringLiteral("/f%1.txt").arg(i), "content", at(1, 10, 0));
        m_project.SyncMode = c.mode;
        m_options.extraArguments = c.serverArguments;
        m_log.clear();
        startServer();
        m_project.Run();
        EXPECT_EQ(m_project.LastRunOutcome().failedActions, int(6 - c.arrived)) << m_log.join('\n').toStdString();
        EXPECT_EQ(tree(target).size(), c.arrived) << m_log.join('\n').toStdString();
        for (const QString& name : tree(target))
            EXPECT_EQ(readFile(target + '/' + name), "content");
    }
}

// --- Nothing lost, nothing hidden --------------------------------------------

// An upload cut off while the old remote file stood aside left it under the
// aside name: the next run puts it back before it decides anything.
TEST_F(SyncRunTest, OldFileLeftAsideByACutOffUploadIsRestored) {
    for (const QString& folder : {QString(), QStringLiteral("sub/")}) {
        writeFile(remote(folder + inet::asideTempName(QStringLiteral("page.html"))), "old", at(1, 10, 0));
        writeFile(local(folder + "page.html"), "old", at(1, 10, 0));
    }
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_project.Exact = true;
    startServer();
    m_project.Run();
    for (const char* shown : {"/page.html", "/sub/page.html"})
        EXPECT_TRUE(m_log.contains(
            QStringLiteral("Remote file %1 has been restored from an interrupted upload").arg(QLatin1String(shown))))
            << m_log.join('\n').toStdString();
    EXPECT_EQ(m_log.last(), QStringLiteral("0 files has been downloaded, 0 files has been deleted."));
    const std::set<QString> both{"page.html", "sub/page.html"};
    EXPECT_EQ(tree(m_remoteDir.path()), both);
    EXPECT_EQ(tree(m_localDir.path()), both);
}

// Temporary files of interrupted transfers (a run's, an earlier version's,
// an old version left beside its file) are deleted on an exact copy's target
// side and named on any other; one written lately may be another run's work
// in progress and is left alone.
TEST_F(SyncRunTest, LeftoversOfInterruptedTransfersAreTidiedOrNamed) {
    struct Case {
        const char* label;
        quint8 mode;
        bool exact;
        bool remoteRemoved;
        bool localRemoved;
    };
    const QStringList remoteOld{QStringLiteral("a/.f.txt.1234abcd.vstmp"), QStringLiteral("a/.gone.txt.vstmp"),
                                QStringLiteral(".f.txt.vsold.vstmp")};
    const QString remoteYoung = QStringLiteral(".new.txt.5678abcd.vstmp");
    const QString localOld = QStringLiteral("a/.f.txt.9999aaaa.vstmp");
    startServer();
    for (const Case& c : {Case{"upload, exact", 0, true, true, false}, Case{"upload", 0, false, false, false},
                          Case{"download, exact", 1, true, false, true}, Case{"both ways", 2, false, false, false}}) {
        SCOPED_TRACE(c.label);
        for (const QString& name : remoteOld)
            writeFile(remote(name), "cut", at(1, 9, 0));
        writeFile(remote(remoteYoung), "cut", NaiveDateTime::fromLocal(QDateTime::currentDateTime()));
        writeFile(local(localOld), "cut", at(1, 9, 0));
        for (const QString& side : {local(QStringLiteral("f.txt")), remote(QStringLiteral("f.txt"))})
            writeFile(side, "same", at(1, 10, 0));
        m_project.SyncMode = setting::SyncMode(c.mode);
        m_project.Exact = c.exact;
        m_log.clear();
        m_project.Run();
        for (const QString& name : remoteOld) {
            EXPECT_NE(QFileInfo::exists(remote(name)), c.remoteRemoved) << name.toStdString();
            const QString shown = QStringLiteral("/") + name;
            EXPECT_EQ(m_log.filter(shown).size(), 1) << m_log.join('\n').toStdString();
        }
        EXPECT_TRUE(QFileInfo::exists(remote(remoteYoung)));
        EXPECT_EQ(m_log.filter(remoteYoung).size(), 0);
        EXPECT_NE(QFileInfo::exists(local(localOld)), c.localRemoved);
        EXPECT_EQ(m_log.filter(localRoot() + localOld).size(), 1) << m_log.join('\n').toStdString();
        EXPECT_EQ(m_project.LastRunOutcome().failedActions + m_project.LastRunOutcome().problems, 0);
        EXPECT_EQ(sortedNames(m_project.RemoteFiles()), QStringList{QStringLiteral("f.txt")});
    }
}

// The run passes the listed size to each download: a server that cuts one
// short and reports success fails it, and the local file stays as it was.
TEST_F(SyncRunTest, DownloadCutShortLeavesTheLocalFileAsItWas) {
    writeFile(remote("big.bin"), QByteArray(8192, 'r'), at(1, 11, 0));
    writeFile(local("big.bin"), "previous", at(1, 10, 0));
    m_options.extraArguments = QStringList{QStringLiteral("--cut-retr-after"), QStringLiteral("100")};
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    startServer();
    m_project.Run();
    EXPECT_TRUE(
        m_log.contains("FtpGetFile('/big.bin') fails with message: " + ErrorText(inet::ErrorDownloadSizeMismatch)))
        << m_log.join('\n').toStdString();
    EXPECT_EQ(m_project.LastRunOutcome().failedActions, 1);
    EXPECT_EQ(readFile(local("big.bin")), "previous");
    EXPECT_EQ(tree(m_localDir.path()), std::set<QString>{"big.bin"});
}

// A file that changes after the scan is not stored as a mix of two versions:
// the upload fails, nothing is renamed into place, and the next run sends it.
TEST_F(SyncRunTest, FileThatChangesBeforeItsUploadEndsIsNotRenamedIntoPlace) {
    writeFile(local("growing.log"), "first", at(1, 10, 0));
    writeFile(remote("growing.log"), "remote", at(1, 9, 0));
    m_onLine = [this](const QString& line) {
        if (line == QLatin1String("Collecting FTP files..."))
            writeFile(local("growing.log"), "first and more", at(1, 10, 0));
    };
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    startServer();
    m_project.Run();
    EXPECT_TRUE(m_log.contains("FtpPutFile('" + local("growing.log") +
                               "') fails with message: " + ErrorText(inet::ErrorSourceChanged)))
        << m_log.join('\n').toStdString();
    EXPECT_EQ(readFile(remote("growing.log")), "remote");
    EXPECT_EQ(tree(m_remoteDir.path()), std::set<QString>{"growing.log"});
    m_onLine = nullptr;
    m_project.Run();
    EXPECT_EQ(readFile(remote("growing.log")), "first and more");
}

// An exact copy from a side that holds no file at all (a build that produced
// nothing, a disk that is not mounted) deletes nothing and says why.
TEST_F(SyncRunTest, ExactCopyFromAnEmptySideDeletesNothing) {
    writeFile(remote("site.html"), "R", at(1, 10, 0));
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    m_project.Exact = true;
    startServer();
    m_project.Run();
    EXPECT_EQ(afterScans(),
              (QStringList{"Remote files have not been deleted because the local folder holds no file at all.",
                           "0 files has been uploaded, 0 files has been deleted.",
                           "This run met 1 problem(s): see the lines above."}));
    EXPECT_EQ(tree(m_remoteDir.path()), std::set<QString>{"site.html"});
}

// A download keeps the mode of the file it replaces and writes through a link
// to a file inside the local folder; a link that leads outside is refused.
TEST_F(SyncRunTest, DownloadKeepsModesAndWritesThroughFileLinksInside) {
    for (const char* name : {"secrets.env", "run.sh", "real.txt", "linked.txt", "escape.txt"})
        writeFile(remote(QLatin1String(name)), "new", at(2, 10, 0));
    writeFile(local("secrets.env"), "old", at(1, 10, 0));
    writeFile(local("run.sh"), "old", at(1, 10, 0));
    writeFile(local("real.txt"), "old", at(1, 10, 0));
    ASSERT_EQ(::chmod(QFile::encodeName(local("secrets.env")).constData(), 0600), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(local("run.sh")).constData(), 0755), 0);
    ASSERT_TRUE(QFile::link(local(QStringLiteral("real.txt")), local(QStringLiteral("linked.txt"))));
    QTemporaryDir outside;
    writeFile(outside.filePath(QStringLiteral("target.txt")), "outside", at(1, 10, 0));
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("target.txt")), local(QStringLiteral("escape.txt"))));
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    startServer();
    m_project.Run();
    EXPECT_EQ(modeOf(local("secrets.env")) & 07777, mode_t(0600));
    EXPECT_EQ(modeOf(local("run.sh")) & 07777, mode_t(0755));
    EXPECT_TRUE(QFileInfo(local("linked.txt")).isSymLink());
    EXPECT_EQ(readFile(local("real.txt")), "new");
    EXPECT_TRUE(m_log.contains("Nothing is written or deleted through the file link " + local("escape.txt") +
                               ": it leads outside the local folder"))
        << m_log.join('\n').toStdString();
    EXPECT_EQ(readFile(outside.filePath(QStringLiteral("target.txt"))), "outside");
}

// --- A listing is whole or it is a failure -----------------------------------

struct BigFolderCase {
    const char* name;
    int files;
    int nameLength;
    bool pastOneReply; // longer than one reply may be: listed over a data connection
};

void PrintTo(const BigFolderCase& c, std::ostream* os) {
    *os << c.name;
}

class BigFolderTest : public SyncRunTest, public ::testing::WithParamInterface<BigFolderCase> {};

// Without MLSD, folders are listed over the control connection (STAT, one
// reply each). A folder whose listing passes what one reply may hold is
// listed over a data connection instead; neither is ever cut short.
TEST_P(BigFolderTest, ListsEveryFile) {
    const BigFolderCase& c = GetParam();
    const QString padding(c.nameLength - 9, QLatin1Char('n'));
    for (int i = 0; i < c.files; ++i)
        writeFile(remote(QStringLiteral("big/%1%2.txt").arg(padding).arg(i, 5, 10, QLatin1Char('0'))), {},
                  at(1, 10, 0));
    m_options.mlsd = false;
    m_options.logCommands = true;
    m_options.extraArguments << QStringLiteral("--list-dot");
    startServer();
    ASSERT_TRUE(m_project.Connect());
    m_project.CollectRemoteFiles();
    m_project.Disconnect();
    EXPECT_EQ(m_project.RemoteFiles().Count(), c.files);
    EXPECT_TRUE(m_project.LastRunOutcome().remoteScanComplete) << m_log.join('\n').toStdString();
    EXPECT_EQ(m_server->serverLog().contains(QStringLiteral("COMMAND LIST")), c.pastOneReply);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BigFolderTest,
                         ::testing::Values(BigFolderCase{"WithinOneReply", 2000, 100, false},
                                           BigFolderCase{"PastOneReply", 4000, 250, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct UnreadFolderCase {
    const char* name;
    bool mlsd;
    bool listDot;
    QStringList unlistable;
    QStringList emptyStat;
    QStringList listLines;
    bool readWhole; // the server's listings showed the whole tree after all
};

void PrintTo(const UnreadFolderCase& c, std::ostream* os) {
    *os << c.name;
}

class UnreadFolderTest : public SyncRunTest, public ::testing::WithParamInterface<UnreadFolderCase> {};

// A folder the server lets us enter but does not list (vsftpd, mode 111),
// lists as empty over STAT, or lists with a line that is no listing line: an
// exact download keeps the local copy of all it may hold.
TEST_P(UnreadFolderTest, ExactDownloadKeepsWhatTheListingDidNotShow) {
    const UnreadFolderCase& c = GetParam();
    for (const char* name : {"secret/s.txt", "secret/sub/t.txt"}) {
        writeFile(remote(QLatin1String(name)), "S", at(1, 10, 0));
        writeFile(local(QLatin1String(name)), "S", at(1, 10, 0));
    }
    writeFile(remote("a.txt"), "A", at(1, 10, 0));
    writeFile(local("extra.txt"), "E", at(1, 10, 0));
    m_options.mlsd = c.mlsd;
    if (c.listDot)
        m_options.extraArguments << QStringLiteral("--list-dot");
    m_options.unlistableDirs = c.unlistable;
    m_options.emptyStatDirs = c.emptyStat;
    m_options.listLines = c.listLines;
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_project.Exact = true;
    startServer();
    m_project.Run();

    std::set<QString> kept{"a.txt", "secret/s.txt", "secret/sub/t.txt"};
    if (!c.readWhole)
        kept.insert(QStringLiteral("extra.txt"));
    EXPECT_EQ(tree(m_localDir.path()), kept) << m_log.join('\n').toStdString();
    EXPECT_EQ(m_project.LastRunOutcome().remoteScanComplete, c.readWhole);
    EXPECT_EQ(m_log.contains(QStringLiteral(
                  "Local files have not been deleted because the remote folder could not be read completely.")),
              !c.readWhole);
    EXPECT_EQ(
        m_log.contains("FtpFindFirstFile('/secret') fails with message: " + ErrorText(inet::ErrorListingIncomplete)),
        !c.unlistable.isEmpty());
}

const QStringList Secret{QStringLiteral("secret")};

INSTANTIATE_TEST_SUITE_P(
    Servers, UnreadFolderTest,
    ::testing::Values(UnreadFolderCase{"UnlistableOverStatWithDots", false, true, Secret, {}, {}, false},
                      UnreadFolderCase{"UnlistableOverStat", false, false, Secret, {}, {}, false},
                      UnreadFolderCase{"UnlistableOverMlsd", true, false, Secret, {}, {}, false},
                      UnreadFolderCase{"EmptyStatBodyFallsBackToList", false, true, {}, Secret, {}, true},
                      UnreadFolderCase{"ListLineInMlsd",
                                       true,
                                       false,
                                       {},
                                       {},
                                       {QStringLiteral("-rw-r--r--   1 u g 5 Jan 01  2026 stray.txt")},
                                       false}),
    [](const auto& info) { return std::string(info.param.name); });

// Uploads into a folder whose listing failed would go over files the scan
// never saw, newer ones included: they are withheld, with one line.
class WithheldUploadTest : public SyncRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(WithheldUploadTest, NothingIsUploadedIntoAFolderThatCouldNotBeListed) {
    writeFile(remote("secret/s.txt"), "server", at(2, 10, 0));
    writeFile(local("secret/s.txt"), "local", at(1, 10, 0));
    writeFile(local("secret/sub/u.txt"), "local", at(1, 10, 0));
    writeFile(local("new.txt"), "N", at(1, 10, 0));
    m_options.unlistableDirs = Secret;
    m_project.SyncMode = setting::SyncMode(GetParam());
    startServer();
    m_project.Run();
    EXPECT_EQ(m_log.count(QStringLiteral(
                  "Files have not been uploaded into remote folder /secret because it could not be listed.")),
              1)
        << m_log.join('\n').toStdString();
    EXPECT_EQ(readFile(remote("secret/s.txt")), "server");
    EXPECT_EQ(tree(m_remoteDir.path()), (std::set<QString>{"new.txt", "secret/s.txt"}));
    EXPECT_EQ(m_project.LastRunOutcome().uploaded, 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, WithheldUploadTest, ::testing::Values(0, 2),
                         [](const auto& info) { return info.param == 0 ? "Upload" : "BothWays"; });

// Real vsftpd: lists over the control connection (STAT -a, "." and ".."
// always shown), shows a folder of mode 111 as empty to STAT and ends its
// LIST with "226 Transfer done (but failed to open directory).".
class VsftpdListingTest : public SyncRunTest {
protected:
    void SetUp() override {
        SyncRunTest::SetUp();
        if (!VsftpdProcess::available())
            GTEST_SKIP() << "vsftpd must be installed and the tests run as root";
        ASSERT_TRUE(m_vsftpd.start()) << m_vsftpd.errorText().toStdString();
        m_project.Server = QStringLiteral("127.0.0.1");
        m_project.Port = m_vsftpd.port();
        m_project.UserName = QStringLiteral("anonymous");
        m_project.Password.clear();
        m_project.RemoteFolder = QStringLiteral("/pub");
        m_project.SyncMode = setting::SyncMode::RemoteToLocal;
        m_project.Exact = true;
    }

    QString served(const QString& relative) const { return m_vsftpd.root() + QStringLiteral("/pub/") + relative; }

    // A minute of yesterday: vsftpd lists it with its time of day.
    static NaiveDateTime yesterday() {
        const QDateTime now = QDateTime::currentDateTime().addDays(-1);
        return NaiveDateTime::fromDateAndTime(now.date(), QTime(now.time().hour(), now.time().minute()));
    }

    VsftpdProcess m_vsftpd;
};

TEST_F(VsftpdListingTest, ExactDownloadOfTenThousandFilesKeepsThemAll) {
    const NaiveDateTime time = yesterday();
    for (int i = 0; i < 10'000; ++i) {
        const QString name = QStringLiteral("many/file-%1.txt").arg(i, 5, 10, QLatin1Char('0'));
        writeFile(served(name), {}, time);
        writeFile(local(name), {}, time);
    }
    writeFile(local("many/extra.txt"), {}, time);
    m_project.Run();
    EXPECT_EQ(m_log.last(), QStringLiteral("0 files has been downloaded, 1 files has been deleted."))
        << m_log.mid(m_log.size() - 10).join('\n').toStdString();
    EXPECT_EQ(tree(m_localDir.path()).size(), 10'000u);
    EXPECT_FALSE(QFileInfo::exists(local("many/extra.txt")));
}

TEST_F(VsftpdListingTest, FolderThatCannotBeReadIsAFailedListing) {
    const NaiveDateTime time = yesterday();
    for (const char* name : {"secret/s.txt", "secret/sub/t.txt"}) {
        writeFile(served(QLatin1String(name)), "S", time);
        writeFile(local(QLatin1String(name)), "S", time);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(served(QStringLiteral("secret"))).constData(), 0111), 0);
    writeFile(served("a.txt"), "A", time);
    writeFile(local("extra.txt"), "E", time);
    m_project.Run();
    EXPECT_TRUE(m_log.contains("FtpFindFirstFile('/pub/secret') fails with message: " +
                               ErrorText(inet::ErrorListingIncomplete)))
        << m_log.join('\n').toStdString();
    EXPECT_EQ(tree(m_localDir.path()), (std::set<QString>{"a.txt", "extra.txt", "secret/s.txt", "secret/sub/t.txt"}));
    EXPECT_FALSE(m_project.LastRunOutcome().remoteScanComplete);
}

// --- Untrusted names, listings and links -------------------------------------
// These runs place a local and a remote root one level below the temporary
// folders, so that what lies beside the roots can be checked after the run.

class UntrustedInputTest : public SyncRunTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        SyncRunTest::SetUp();
        m_options.mlsd = GetParam();
        m_project.LocalFolder = local(QStringLiteral("root"));
        m_project.RemoteFolder = QStringLiteral("/site");
        QDir().mkpath(local(QStringLiteral("root")));
        QDir().mkpath(remote(QStringLiteral("site")));
        writeFile(local("outside.txt"), "precious", at(1, 10, 0));
        writeFile(remote("outside.txt"), "precious", at(1, 10, 0));
    }

    int linesStartingWith(const QString& start) const {
        return int(std::count_if(m_log.begin(), m_log.end(), [&](const QString& l) { return l.startsWith(start); }));
    }
};

INSTANTIATE_TEST_SUITE_P(Listings, UntrustedInputTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Mlsd" : "List"; });

// A server that lists names climbing out of the folder gets neither a
// download written outside the local root nor a deletion outside the remote one.
TEST_P(UntrustedInputTest, NamesThatClimbOutOfTheFolderAreSkipped) {
    writeFile(remote("site/keep.txt"), "K", at(1, 10, 0));
    m_options.listNames = QStringList{QStringLiteral("../outside.txt"), QStringLiteral("a/../../outside.txt")};
    startServer();
    for (const auto& [mode, summary] : {std::pair{1, "1 files has been downloaded, 0 files has been deleted."},
                                        std::pair{0, "0 files has been uploaded, 0 files has been deleted."}}) {
        m_log.clear();
        m_project.SyncMode = setting::SyncMode(mode);
        m_project.Exact = true;
        m_project.Run();
        EXPECT_EQ(m_log.mid(m_log.size() - 2),
                  (QStringList{summary, "This run met 2 problem(s): see the lines above."}))
            << m_log.join('\n').toStdString();
        EXPECT_EQ(linesStartingWith(QStringLiteral("Skipped remote name \"")), 2) << m_log.join('\n').toStdString();
        EXPECT_EQ(m_project.LastRunOutcome().problems, 2);
    }
    EXPECT_EQ(tree(m_localDir.path()), (std::set<QString>{"outside.txt", "root/keep.txt"}));
    EXPECT_EQ(tree(m_remoteDir.path()), (std::set<QString>{"outside.txt", "site/keep.txt"}));
    EXPECT_EQ(readFile(local("outside.txt")), "precious");
}

// Local names that cannot travel as a command argument, or as text at all, are
// skipped with a line each; none of them reaches the server.
TEST_P(UntrustedInputTest, LocalNamesThatCannotTravelAreSkipped) {
    writeFile(remote("site/other.txt"), "O", at(1, 10, 0));
    writeFile(local("root/x\r\nDELE other.txt\r\nNOOP"), "X", at(2, 10, 0));
    writeFile(local("root/y\nDELE other.txt"), "Y", at(2, 10, 0));
    // Latin-1, and a UTF-8 sequence cut off at the end of the name.
    const QByteArray rawNames[] = {QFile::encodeName(local(QStringLiteral("root/"))) + "caf\xe9.txt",
                                   QFile::encodeName(local(QStringLiteral("root/"))) + "cut\xc3"};
    for (const QByteArray& name : rawNames)
        ASSERT_EQ(::close(::open(name.constData(), O_CREAT | O_WRONLY, 0644)), 0);
    const auto removeRawNames = qScopeGuard([&] { // Qt cannot name them
        for (const QByteArray& name : rawNames)
            ::unlink(name.constData());
    });
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    startServer();
    m_project.Run();
    EXPECT_EQ(m_log.mid(m_log.size() - 2),
              (QStringList{"0 files has been uploaded.", "This run met 4 problem(s): see the lines above."}));
    EXPECT_TRUE(
        m_log.contains(QStringLiteral("Skipped local name \"x\\r\\nDELE other.txt\\r\\nNOOP\": the name holds a "
                                      "line break or NUL, which cannot be sent to an FTP server")))
        << m_log.join('\n').toStdString();
    EXPECT_TRUE(m_log.contains(QStringLiteral("Skipped local name \"caf\\xe9.txt\": the name is not valid UTF-8")));
    EXPECT_TRUE(m_log.contains(QStringLiteral("Skipped local name \"cut\\xc3\": the name is not valid UTF-8")));
    EXPECT_EQ(linesStartingWith(QStringLiteral("Skipped local name \"")), 4) << m_log.join('\n').toStdString();
    EXPECT_EQ(m_project.LastRunOutcome().problems, 4);
    EXPECT_EQ(tree(m_remoteDir.path()), (std::set<QString>{"outside.txt", "site/other.txt"}));
}

// A listing line that cannot be read may have been a folder: the local copy of
// what it held must survive an exact download.
TEST_P(UntrustedInputTest, UnreadableListingLineKeepsLocalFiles) {
    writeFile(local("root/sub/mine.txt"), "M", at(1, 10, 0));
    m_options.listLines = QStringList{QStringLiteral("@@not-a-listing-line@@")};
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_project.Exact = true;
    startServer();
    m_project.Run();
    EXPECT_TRUE(m_log.contains(
        QStringLiteral("The listing of /site/ holds a line that cannot be read: \"@@not-a-listing-line@@\"")))
        << m_log.join('\n').toStdString();
    EXPECT_TRUE(m_log.contains(
        QStringLiteral("Local files have not been deleted because the remote folder could not be read completely.")));
    EXPECT_EQ(tree(local(QStringLiteral("root"))), std::set<QString>{"sub/mine.txt"});
    EXPECT_FALSE(m_project.LastRunOutcome().remoteScanComplete);
}

// A folder link that leads outside the local root is read for uploads, but
// neither a download nor a deletion goes through it; the log says so once.
TEST_P(UntrustedInputTest, FolderLinkLeadingOutsideIsReadButNeverWritten) {
    writeFile(local("elsewhere/shared.txt"), "S", at(1, 10, 0));
    ASSERT_TRUE(QFile::link(local(QStringLiteral("elsewhere")), local(QStringLiteral("root/link"))));
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    startServer();
    m_project.Run();
    EXPECT_EQ(readFile(remote("site/link/shared.txt")), "S");

    writeFile(remote("site/link/shared.txt"), "S2", at(2, 10, 0)); // now newer on the server
    writeFile(local("elsewhere/local-only.txt"), "L", at(1, 10, 0));
    writeFile(remote("site/link/remote-only.txt"), "R", at(1, 10, 0));
    m_log.clear();
    m_project.SyncMode = setting::SyncMode::RemoteToLocal;
    m_project.Exact = true;
    m_project.Run();
    EXPECT_EQ(linesStartingWith(QStringLiteral("Nothing is written or deleted through the folder link ")), 1)
        << m_log.join('\n').toStdString();
    EXPECT_EQ(m_log.mid(m_log.size() - 2), (QStringList{"0 files has been downloaded, 0 files has been deleted.",
                                                        "This run met 3 problem(s): see the lines above."}));
    EXPECT_EQ(tree(local(QStringLiteral("elsewhere"))), (std::set<QString>{"local-only.txt", "shared.txt"}));
    EXPECT_EQ(m_project.LastRunOutcome().failedActions, 3) << "two downloads and a deletion";
}

enum class Proxy { Socks, Ftp };

class SyncThroughProxyTest : public SyncRunTest, public ::testing::WithParamInterface<Proxy> {};

// Several files each way on the default pool: an FTP proxy soon runs out of
// data ports, and the pool must still bring every file across.
TEST_P(SyncThroughProxyTest, RunsThroughTheNamedProxy) {
    writeFile(remote("sub/a.txt"), "A", at(1, 10, 0));
    writeFile(local("b.txt"), "B", at(1, 10, 0));
    for (int i = 0; i < 7; ++i) {
        writeFile(remote(QStringLiteral("down/f%1.txt").arg(i)), "D", at(1, 10, 0));
        writeFile(local(QStringLiteral("up/f%1.txt").arg(i)), "U", at(1, 10, 0));
    }
    startServer();
    std::unique_ptr<ListeningProcess> proxy;
    if (GetParam() == Proxy::Socks)
        proxy = std::make_unique<SocksProxyProcess>();
    else
        proxy = std::make_unique<FtpProxyProcess>(m_server->port(), 3);
    ASSERT_TRUE(proxy->start()) << proxy->errorText().toStdString();
    m_project.UseProxy = true;
    m_project.ProxyKind = GetParam() == Proxy::Socks ? setting::ProxyKind::Socks : setting::ProxyKind::Ftp;
    m_project.ProxyServer = QStringLiteral(" 127.0.0.1\t"); // blanks and control characters are trimmed
    m_project.ProxyPort = proxy->port();
    m_project.SyncMode = setting::SyncMode::Bidirectional;
    m_project.Run();
    ASSERT_GE(m_log.size(), 2);
    EXPECT_EQ(m_log.mid(0, 2), (QStringList{"Opening FTP by using proxy...", "Done!"}))
        << m_log.join('\n').toStdString();
    EXPECT_EQ(m_log.last(), QStringLiteral("8 files has been downloaded, 8 files has been uploaded."))
        << m_log.join('\n').toStdString();
    EXPECT_EQ(tree(m_localDir.path()), tree(m_remoteDir.path()));
    EXPECT_EQ(readFile(local("sub/a.txt")), "A");
    EXPECT_EQ(readFile(remote("b.txt")), "B");
}

INSTANTIATE_TEST_SUITE_P(Kinds, SyncThroughProxyTest, ::testing::Values(Proxy::Socks, Proxy::Ftp),
                         [](const ::testing::TestParamInfo<Proxy>& info) {
                             return info.param == Proxy::Socks ? std::string("Socks") : std::string("Ftp");
                         });

} // namespace
