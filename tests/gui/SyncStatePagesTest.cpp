// What the wizard offers about two-way runs: the choice for files changed on
// both sides, and on the review page the project's sync state and Forget.
#include "gui/WizardFixture.h"

#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>

#include "sync/ProjectState.h"
#include "sync/RunLock.h"
#include "sync/SyncState.h"

namespace {

const QString NoState = QStringLiteral("No sync state yet: the first run compares the times of both sides.");

} // namespace

TEST_F(WizardTest, ConflictChoiceIsOfferedForBothWaysOnlyAndStoredAndRefilled) {
    showWindow();
    walkNewProjectTo(3);
    auto* choice = child<QGroupBox>("rgConflicts");
    auto* skip = child<QRadioButton>("rgConflictsItem1");
    EXPECT_TRUE(child<QRadioButton>("rgConflictsItem0")->isChecked());
    const std::pair<const char*, bool> offeredFor[] = {
        {"rgModeItem2", true}, {"rgModeItem0", false}, {"rgModeItem1", false}, {"rgModeItem2", true}};
    for (const auto& [mode, offered] : offeredFor) {
        click(mode);
        EXPECT_EQ(choice->isEnabled(), offered) << mode;
        EXPECT_EQ(skip->isEnabled(), offered) << mode;
        // Exact Copy is the other way round, and stays so.
        EXPECT_EQ(child<QCheckBox>("cbExact")->isEnabled(), !offered) << mode;
    }
    click("rgConflictsItem1");
    walkNewProjectTo(4);
    EXPECT_EQ(CurrentProject->Conflicts, setting::Conflicts::Skip);
    EXPECT_TRUE(CurrentProject->Modified);

    // Back to the proxy page and forward again: the page is refilled from the project.
    back();
    back();
    child<QRadioButton>("rgConflictsItem0")->setChecked(true);
    next();
    ASSERT_EQ(page(), TVellisyncMain::FoldersPage);
    EXPECT_TRUE(skip->isChecked());
    click("rgConflictsItem0");
    next();
    EXPECT_EQ(CurrentProject->Conflicts, setting::Conflicts::KeepBoth);
}

// The review line and Forget work on a state folder of the test's own.
class SyncStateReviewTest : public WizardTest {
protected:
    void SetUp() override {
        m_savedStateHome = qgetenv("XDG_STATE_HOME");
        WizardTest::SetUp();
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("state"))));
    }
    void TearDown() override {
        WizardTest::TearDown();
        qputenv("XDG_STATE_HOME", m_savedStateHome);
    }

    // Leaves the review page and comes back, so that it looks at the state again.
    void reenterReview() {
        back();
        next();
        ASSERT_EQ(page(), TVellisyncMain::ReviewPage);
    }

    QString statePath() { return engine::describeState(*CurrentProject).path; }

    QByteArray m_savedStateHome;
};

TEST_F(SyncStateReviewTest, LineShowsTheStateAndForgetDropsItOnlyWhenConfirmedAndNoRunHoldsIt) {
    showWindow();
    walkNewProjectTo(TVellisyncMain::ReviewPage);
    auto* line = child<QLabel>("lSyncState");
    auto* forget = child<QPushButton>("bForgetState");
    EXPECT_EQ(line->text(), NoState);
    EXPECT_FALSE(forget->isEnabled());
    // The review text itself is what it always was.
    QString review = CurrentProject->GetReviewText();
    review.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(child<QPlainTextEdit>("mReview")->toPlainText(), review);

    {
        engine::SyncState::Opened opened = engine::SyncState::open(engine::stateIdentityOf(*CurrentProject));
        ASSERT_TRUE(opened.state) << opened.logLine.toStdString();
        for (const char* name : {"index.html", "css/site.css"}) {
            engine::FileRecord record;
            record.path = QString::fromLatin1(name);
            ASSERT_TRUE(opened.state->put(record));
        }
        ASSERT_TRUE(opened.state->markRunComplete());
    }
    reenterReview();
    const QString prefix = QStringLiteral("Sync state: 2 files, last complete run ");
    ASSERT_TRUE(line->text().startsWith(prefix)) << line->text().toStdString();
    // Shown in local time, to the minute.
    const QDateTime shown = QDateTime::fromString(line->text().mid(prefix.size()), QStringLiteral("yyyy-MM-dd HH:mm"));
    ASSERT_TRUE(shown.isValid()) << line->text().toStdString();
    EXPECT_LE(std::abs(shown.secsTo(QDateTime::currentDateTime())), 120);
    EXPECT_TRUE(forget->isEnabled());
    const QString shownWithState = line->text();

    // No keeps the state; so does a run that holds the project's lock, whose refusal is shown.
    answers = {QMessageBox::No};
    click("bForgetState");
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_TRUE(QFile::exists(statePath()));
    {
        const TVellisyncProject& p = *CurrentProject;
        const engine::RunLock run(engine::RunTarget{p.LocalFolder, p.Server, p.Port, p.UserName, p.RemoteFolder});
        ASSERT_EQ(run.state(), engine::RunLock::State::Held);
        answers = {QMessageBox::Yes};
        click("bForgetState");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors.front().contains(QStringLiteral("in progress"))) << errors.front().toStdString();
        EXPECT_TRUE(QFile::exists(statePath()));
        EXPECT_EQ(line->text(), shownWithState);
    }

    answers = {QMessageBox::Yes};
    click("bForgetState");
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_FALSE(QFile::exists(statePath()));
    EXPECT_EQ(line->text(), NoState);
    EXPECT_FALSE(forget->isEnabled());

    // A file that is not a state is said to be unreadable, and may be forgotten as well.
    {
        QDir().mkpath(QFileInfo(statePath()).path());
        QFile junk(statePath());
        ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
    }
    reenterReview();
    EXPECT_TRUE(line->text().startsWith(QStringLiteral("The sync state cannot be read"))) << line->text().toStdString();
    EXPECT_TRUE(line->text().endsWith(QStringLiteral("the next run starts afresh."))) << line->text().toStdString();
    EXPECT_TRUE(forget->isEnabled());
    answers = {QMessageBox::Yes};
    click("bForgetState");
    EXPECT_FALSE(QFile::exists(statePath()));
    EXPECT_EQ(line->text(), NoState);
}
