// The review page's preview against a real FTP server: a dry run on a worker
// thread whose table says what the run's own dry run says, with deletions
// marked and counted, that changes nothing on either side nor in the state
// folder, and names what the scan skipped; and Go!, which asks before a run
// that deletes many files and waits for a preview in progress to let go.
#include "gui/WizardFixture.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>

#include "support/FtpTestServer.h"
#include "support/TestFiles.h"
#include "ui/pages/PreviewPanel.h"

namespace {

// Every entry below folder with its kind, size, time and content: what a
// write, a rename, a new folder or a new lock file would change.
QStringList treeOf(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile file(info.filePath());
        const QByteArray content = info.isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        entries << QStringLiteral("%1 %2 %3 %4 %5")
                       .arg(info.filePath(), info.isDir() ? QStringLiteral("dir") : QStringLiteral("file"))
                       .arg(info.size())
                       .arg(info.lastModified().toMSecsSinceEpoch())
                       .arg(QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
    }
    entries.sort();
    return entries;
}

// "Would delete remote file old1.txt (not on the local side)" as the
// preview's row shows it: action, file, reason.
QStringList rowOfLine(const QString& line) {
    static const QRegularExpression form(
        QStringLiteral("^Would (upload|download|delete local file|delete remote file) (\\S+) \\((.*)\\)$"));
    const QRegularExpressionMatch match = form.match(line);
    if (!match.hasMatch())
        return {line};
    static const QHash<QString, QString> actions{
        {QStringLiteral("upload"), QStringLiteral("Upload")},
        {QStringLiteral("download"), QStringLiteral("Download")},
        {QStringLiteral("delete local file"), QStringLiteral("Delete local")},
        {QStringLiteral("delete remote file"), QStringLiteral("Delete remote")}};
    return {actions.value(match.captured(1)), match.captured(2),
            match.captured(3).replace(QStringLiteral(") ("), QStringLiteral("; "))};
}

} // namespace

class PreviewTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        m_savedStateHome = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_state));
        QDir().mkpath(m_remote);
        QDir().mkpath(m_local);
        QDir().mkpath(m_state);
        // Two new files and a newer one go up; seven files only the server has are deleted.
        writeFile(m_local + QStringLiteral("/new1.txt"), "one");
        writeFile(m_local + QStringLiteral("/sub/new2.txt"), "two two");
        writeFile(m_remote + QStringLiteral("/same.txt"), "old");
        writeFile(m_local + QStringLiteral("/same.txt"), "newer");
        QFile older(m_remote + QStringLiteral("/same.txt"));
        ASSERT_TRUE(older.open(QIODevice::ReadWrite));
        ASSERT_TRUE(older.setFileTime(QDateTime::currentDateTime().addDays(-2), QFileDevice::FileModificationTime));
        // A name no server can take: the scan skips it, and the preview says so below its table.
        writeFile(m_local + QStringLiteral("/bad\nname.txt"), "skipped");
        for (int i = 1; i <= 7; ++i)
            writeFile(m_remote + QStringLiteral("/old%1.txt").arg(i), "gone");
        for (int attempt = 0; attempt < 20 && !m_server; ++attempt) {
            FtpTestServerOptions options;
            options.root = m_remote;
            // Slow logons keep a preview going long enough to press Go! meanwhile.
            options.delays = {QStringLiteral("PASS:1")};
            options.extraArguments = {QStringLiteral("--port"), QString::number(closedLoopbackPort())};
            m_server = std::make_unique<FtpTestServer>(options);
            if (!m_server->start())
                m_server.reset();
        }
        ASSERT_TRUE(m_server) << "the test FTP server did not start";
    }

    void TearDown() override {
        WizardTest::TearDown();
        qputenv("XDG_STATE_HOME", m_savedStateHome);
    }

    // Page 0 to the review page with an exact copy of the local folder to the server.
    void describeExactUpload() {
        describeUpload(m_server->host(), m_server->port(), m_server->options().user, m_server->options().password,
                       m_local, true);
    }

    void preview() {
        click("bPreview");
        // Go! stays one click away while the dry run goes.
        EXPECT_TRUE(child<QPushButton>("bNext")->isEnabled());
        ASSERT_TRUE(QTest::qWaitFor([&] { return child<QPushButton>("bPreview")->isEnabled(); }, 60'000));
    }

    QStringList everything() { return treeOf(m_local) + treeOf(m_remote) + treeOf(m_state); }

    QString m_remote = m_home.filePath(QStringLiteral("remote"));
    QString m_local = m_home.filePath(QStringLiteral("local"));
    QString m_state = m_home.filePath(QStringLiteral("state"));
    QByteArray m_savedStateHome;
    std::unique_ptr<FtpTestServer> m_server;
};

TEST_F(PreviewTest, ShowsTheDryRunsPlanWithDeletionsMarkedAndChangesNothing) {
    describeExactUpload();
    // Once on a pair of folders no run has met, once beside the sync state
    // and the lock a run left.
    for (const bool afterRun : {false, true}) {
        SCOPED_TRACE(afterRun ? "after a run" : "before any run");
        if (afterRun) {
            TVellisyncProject firstRun;
            static_cast<ProjectSettings&>(firstRun) = CurrentProject->Settings();
            firstRun.IncludeMasks = QStringLiteral("same.txt");
            firstRun.Exact = false;
            firstRun.Run();
            ASSERT_TRUE(firstRun.LastRunOutcome().completed);
        }
        const QStringList before = everything();
        preview();

        auto* table = child<QTableWidget>("tvPreview");
        ASSERT_TRUE(table);
        QList<QStringList> rows;
        QStringList notes;
        int marked = 0;
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, 0)->data(wizard::PreviewPanel::NoteRole).toBool()) {
                notes << table->item(row, 0)->text();
                continue;
            }
            rows.append({table->item(row, 0)->text(), table->item(row, 1)->text(), table->item(row, 2)->text()});
            const bool deletion = rows.last().constFirst().startsWith(QLatin1String("Delete"));
            for (int column = 0; column < table->columnCount(); ++column)
                EXPECT_EQ(table->item(row, column)->data(Qt::UserRole).toBool(), deletion) << row << " " << column;
            marked += deletion;
        }
        EXPECT_EQ(marked, 7);
        EXPECT_TRUE(child<QLabel>("lPreviewCounts")->text().contains(QStringLiteral("7 files to DELETE")))
            << child<QLabel>("lPreviewCounts")->text().toStdString();
        EXPECT_EQ(notes.filter(QRegularExpression(QStringLiteral("^Skipped local name \"bad\\\\nname\\.txt\""))).size(),
                  1)
            << notes.join(QLatin1Char('\n')).toStdString();

        // The runner's dry run of the same settings says the same, line by line.
        TVellisyncProject dryRun;
        static_cast<ProjectSettings&>(dryRun) = CurrentProject->Settings();
        dryRun.DryRun = true;
        QList<QStringList> lines;
        dryRun.SetOnLog([&lines](TVellisyncProject&, const QString& line) {
            if (line.startsWith(QLatin1String("Would ")))
                lines.append(rowOfLine(line));
        });
        dryRun.Run();
        EXPECT_EQ(lines.size(), afterRun ? 9 : 10);
        EXPECT_EQ(rows, lines);

        // Neither side, nor the state folder, has changed by a byte, a time or a name.
        EXPECT_EQ(everything(), before);
    }
}

TEST_F(PreviewTest, GoAsksBeforeARunThatDeletesManyFiles) {
    describeExactUpload();
    preview();
    const QStringList before = everything();

    answers = {QMessageBox::No};
    next();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions.back().text.contains(QStringLiteral("delete 7 files")))
        << questions.back().text.toStdString();
    EXPECT_EQ(page(), 5);
    EXPECT_FALSE(window->runActive());
    EXPECT_EQ(everything(), before);

    // Go! while a preview goes: the run waits until the dry run has let go
    // of the pair of folders, then starts by itself.
    click("bPreview");
    next();
    ASSERT_TRUE(QTest::qWaitFor([&] { return page() == 6; }, 60'000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->runActive(); }, 60'000));
    EXPECT_FALSE(child<QPlainTextEdit>("Memo2")->toPlainText().contains(QStringLiteral("Another run")));
    EXPECT_FALSE(QFileInfo::exists(m_remote + QStringLiteral("/old1.txt")));
    EXPECT_TRUE(QFileInfo::exists(m_remote + QStringLiteral("/sub/new2.txt")));
}
