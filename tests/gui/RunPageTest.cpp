// The run page against a real FTP server: the run starts on arrival, the log
// fills with stamped lines, Stop, Save Log, Save Project and the questions
// asked when the window closes or the wizard starts over.
#include "gui/WizardFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "model/Errors.h"
#include "support/FtpTestServer.h"
#include "support/TestFiles.h"
#include "ui/ErrorHandler.h"

class RunPageTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        m_remote = m_home.filePath(QStringLiteral("remote"));
        m_local = m_home.filePath(QStringLiteral("local"));
        QDir().mkpath(m_remote);
        QDir().mkpath(m_local);
        startServer();
    }

    // The wizard's port range ends at 32767, below the system's ephemeral
    // ports, so the server is given a free port from that range.
    void startServer(const QStringList& delays = {}) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            FtpTestServerOptions options;
            options.root = m_remote;
            options.delays = delays;
            const quint16 port = closedLoopbackPort();
            options.extraArguments = {QStringLiteral("--port"), QString::number(port)};
            m_server = std::make_unique<FtpTestServer>(options);
            if (m_server->start())
                return;
        }
        FAIL() << "the test FTP server did not start: " << m_server->errorText().toStdString();
    }

    // Page 0 to page 5 with a new project that uploads the local folder.
    void describeUploadJob() {
        describeUpload(m_server->host(), m_server->port(), m_server->options().user, m_server->options().password,
                       m_local);
    }

    void go() {
        next();
        ASSERT_EQ(page(), 6);
    }

    bool waitForRunEnd() {
        return QTest::qWaitFor([&] { return !window->runActive(); }, 120'000);
    }

    QStringList logLines() {
        const QString text = child<QPlainTextEdit>("Memo2")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }

    QStringList savedProjects() { return QDir(ProjectsFolder).entryList({QStringLiteral("*.VSPJ")}, QDir::Files); }

    void makeManyLocalFiles(int count) {
        for (int i = 0; i < count; ++i)
            writeFile(QStringLiteral("%1/file%2.txt").arg(m_local).arg(i, 4, 10, QLatin1Char('0')), "content\n");
    }

    QString m_remote;
    QString m_local;
    std::unique_ptr<FtpTestServer> m_server;
};

TEST_F(RunPageTest, RunStartsOnArrivalAndLogsStampedLinesWhileButtonsWait) {
    writeFile(m_local + QStringLiteral("/index.html"), "<html></html>\n");
    describeUploadJob();
    go();
    EXPECT_TRUE(window->runActive()) << "reaching the page starts the run";
    EXPECT_FALSE(child<QPushButton>("bSaveLog")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("bSaveProject")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("bNext")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("bBack")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("bStop")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("bClose")->isEnabled());

    ASSERT_TRUE(waitForRunEnd());
    EXPECT_TRUE(child<QPushButton>("bSaveLog")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("bSaveProject")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("bNext")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("bBack")->isEnabled());
    EXPECT_EQ(child<QPushButton>("bNext")->text(), QStringLiteral("Begin >>"));

    const QStringList lines = logLines();
    ASSERT_GE(lines.size(), 3);
    const QDate today = QDate::currentDate();
    const QStringList days = {QLocale().toString(today, QLocale::ShortFormat),
                              QLocale().toString(today.addDays(1), QLocale::ShortFormat)};
    for (const QString& line : lines) {
        const qsizetype joint = line.indexOf(QStringLiteral("; "));
        ASSERT_GT(joint, 0) << line.toStdString();
        // Stamp: the short date, a blank and the time (the run may pass midnight).
        const QString stamp = line.left(joint);
        EXPECT_TRUE(stamp.startsWith(days[0] + QLatin1Char(' ')) || stamp.startsWith(days[1] + QLatin1Char(' ')))
            << line.toStdString();
        EXPECT_TRUE(stamp.contains(QRegularExpression(QStringLiteral("\\d:\\d\\d:\\d\\d")))) << line.toStdString();
    }
    EXPECT_TRUE(lines.join(QLatin1Char('\n')).contains(QStringLiteral("index.html")));
    EXPECT_TRUE(QFile::exists(m_remote + QStringLiteral("/index.html")));
    EXPECT_TRUE(errors.empty());
}

TEST_F(RunPageTest, SaveLogWritesEveryLineAsUtf8WithCrLf) {
    writeFile(m_local + QStringLiteral("/Größe – Ω.txt"), "x");
    describeUploadJob();
    go();
    ASSERT_TRUE(waitForRunEnd());
    const QStringList lines = logLines();
    ASSERT_FALSE(lines.isEmpty());

    saveFileAnswer = m_home.filePath(QStringLiteral("run-log"));
    click("bSaveLog");
    const QByteArray saved = readFile(saveFileAnswer + QStringLiteral(".txt"));
    EXPECT_EQ(saved, (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    EXPECT_TRUE(saved.contains(QStringLiteral("Größe – Ω.txt").toUtf8()));

    // An existing file is replaced without a question; a name with an
    // extension keeps it.
    saveFileAnswer = m_home.filePath(QStringLiteral("run.log"));
    writeFile(saveFileAnswer, "old content that is longer than nothing");
    click("bSaveLog");
    EXPECT_EQ(readFile(saveFileAnswer), saved);
    EXPECT_TRUE(questions.empty());

    saveFileAnswer.clear();
    click("bSaveLog");
    EXPECT_TRUE(errors.empty());
}

TEST_F(RunPageTest, SaveLogFailureIsShownWithTheFileAndTheLogStays) {
    describeUploadJob();
    go();
    ASSERT_TRUE(waitForRunEnd());
    const QStringList before = logLines();
    saveFileAnswer = m_home.filePath(QStringLiteral("no/such/folder/log.txt"));
    QFile::remove(m_home.filePath(QStringLiteral("no")));
    writeFile(m_home.filePath(QStringLiteral("no")), "a plain file where a folder is expected");
    click("bSaveLog");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Vellisync | Cannot write \""))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("log.txt")));
    EXPECT_TRUE(errors[0].endsWith(QLatin1Char('.')));
    EXPECT_EQ(logLines(), before);
    EXPECT_EQ(page(), 6);
}

TEST_F(RunPageTest, StopEndsTheRunAndTheNextRunStartsNormally) {
    makeManyLocalFiles(150);
    describeUploadJob();
    go();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !logLines().isEmpty(); }, 60'000));
    click("bStop");
    click("bStop");
    ASSERT_TRUE(waitForRunEnd());
    const int uploaded = QDir(m_remote).entryList(QDir::Files).size();
    EXPECT_LT(uploaded, 150) << "the stop took effect between files";
    EXPECT_TRUE(logLines().constLast().contains(QStringLiteral("stopped"), Qt::CaseInsensitive))
        << logLines().constLast().toStdString();

    // Stop after the end does no harm; the next run goes to the end.
    click("bStop");
    answers = {QMessageBox::No};
    next();
    ASSERT_EQ(page(), 0);
    walkNewProjectTo(1);
    type("eHost", m_server->host());
    child<QSpinBox>("udPort")->setValue(m_server->port());
    click("cbAnonim");
    type("eUserName", m_server->options().user);
    type("ePassword", m_server->options().password);
    next();
    next();
    type("eLocal", m_local);
    click("rgModeItem0");
    next();
    next();
    go();
    ASSERT_TRUE(waitForRunEnd());
    EXPECT_EQ(QDir(m_remote).entryList(QDir::Files).size(), 150);
    EXPECT_FALSE(logLines().join(QLatin1Char('\n')).contains(QStringLiteral("stopped"), Qt::CaseInsensitive));
}

TEST_F(RunPageTest, SaveProjectOnANewProjectAsksForACaptionOnce) {
    describeUploadJob();
    go();
    ASSERT_TRUE(waitForRunEnd());
    ASSERT_TRUE(CurrentProject->FileName.isEmpty());
    captionAnswer = QStringLiteral("Nightly upload");
    click("bSaveProject");
    ASSERT_EQ(captionQueries.size(), 1u);
    EXPECT_EQ(captionQueries[0], QStringLiteral("Enter the project caption, please | Caption | <No Caption>"));
    ASSERT_EQ(savedProjects().size(), 1);
    const QString file = savedProjects().constFirst();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-Z]{8}\\.VSPJ$")).match(file).hasMatch())
        << file.toStdString();
    EXPECT_EQ(QFileInfo(CurrentProject->FileName).fileName(), file);
    EXPECT_FALSE(CurrentProject->Modified);

    click("bSaveProject");
    EXPECT_EQ(captionQueries.size(), 1u) << "the second save goes to the same file without asking";
    EXPECT_EQ(savedProjects(), QStringList({file}));
    TVellisyncProject stored;
    stored.LoadFromFile(CurrentProject->FileName);
    EXPECT_EQ(stored.Caption, QStringLiteral("Nightly upload"));
    EXPECT_EQ(stored.Server, m_server->host());
}

TEST_F(RunPageTest, CancelledCaptionQueryStillSavesWithTheCurrentCaption) {
    describeUploadJob();
    go();
    ASSERT_TRUE(waitForRunEnd());
    captionAnswer = std::nullopt;
    click("bSaveProject");
    ASSERT_EQ(savedProjects().size(), 1);
    TVellisyncProject stored;
    stored.LoadFromFile(CurrentProject->FileName);
    EXPECT_EQ(stored.Caption, QStringLiteral("<No Caption>"));
}

struct CloseAnswer {
    QMessageBox::StandardButton answer;
    bool closes;
    bool saves;
};

void PrintTo(const CloseAnswer& close, std::ostream* out) {
    *out << (close.answer == QMessageBox::Yes ? "Yes" : close.answer == QMessageBox::No ? "No" : "Cancel");
}

class CloseQuestionTest : public RunPageTest, public ::testing::WithParamInterface<CloseAnswer> {};

TEST_P(CloseQuestionTest, ClosingAModifiedProjectAsksToSave) {
    describeUploadJob();
    go();
    ASSERT_TRUE(waitForRunEnd());
    ASSERT_TRUE(CurrentProject->Modified);
    answers = {GetParam().answer};
    captionAnswer = QStringLiteral("Closed");
    click("bClose");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].title, QStringLiteral("Confirmation"));
    EXPECT_EQ(questions[0].text, QStringLiteral("Project has been modified!\nDo you want to save changes?"));
    EXPECT_EQ(questions[0].buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(questions[0].defaultButton, QMessageBox::Cancel);
    EXPECT_EQ(window->isVisible(), !GetParam().closes);
    EXPECT_EQ(savedProjects().size(), GetParam().saves ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Answers, CloseQuestionTest,
                         ::testing::Values(CloseAnswer{QMessageBox::Yes, true, true},
                                           CloseAnswer{QMessageBox::No, true, false},
                                           CloseAnswer{QMessageBox::Cancel, false, false}));

TEST_F(RunPageTest, ClosingAnUnmodifiedProjectAsksNothing) {
    describeUploadJob();
    go();
    ASSERT_TRUE(waitForRunEnd());
    click("bSaveProject");
    click("bClose");
    EXPECT_TRUE(questions.empty());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(RunPageTest, BeginAsksForAModifiedProjectAndCancelKeepsTheLogPage) {
    describeUploadJob();
    go();
    ASSERT_TRUE(waitForRunEnd());
    answers = {QMessageBox::Cancel};
    next();
    EXPECT_EQ(page(), 6);
    EXPECT_EQ(questions.size(), 1u);
    answers = {QMessageBox::Yes};
    next();
    EXPECT_EQ(page(), 0);
    EXPECT_EQ(savedProjects().size(), 1);
}

TEST_F(RunPageTest, ClosingDuringARunStopsItShowsItsLastLinesAndClosesWhenItHasEnded) {
    makeManyLocalFiles(150);
    describeUploadJob();
    go();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !logLines().isEmpty(); }, 60'000));
    answers = {QMessageBox::No};
    click("bClose");
    EXPECT_EQ(questions.size(), 1u);
    const qsizetype linesAtClose = logLines().size();
    if (window->runActive()) {
        EXPECT_TRUE(window->isVisible()) << "the window waits for the run";
        click("bClose");
        EXPECT_EQ(questions.size(), 1u) << "the question is asked once";
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->runActive() && !window->isVisible(); }, 120'000));
    EXPECT_GT(logLines().size(), linesAtClose) << "lines written after the close request are shown";
    EXPECT_TRUE(logLines().constLast().contains(QStringLiteral("stopped"), Qt::CaseInsensitive))
        << logLines().constLast().toStdString();
    EXPECT_LT(QDir(m_remote).entryList(QDir::Files).size(), 150);
    // The run closed its connection before the window went.
    EXPECT_EQ(CurrentProject->ConnectHandle(), nullptr);
    EXPECT_EQ(CurrentProject->InternetHandle(), nullptr);
}

TEST_F(WizardTest, CancelOnCloseDuringARunKeepsTheRunGoing) {
    showWindow();
    walkNewProjectTo(6, closedLoopbackPort());
    answers = {QMessageBox::Cancel};
    click("bClose");
    EXPECT_TRUE(window->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->runActive(); }, 120'000));
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(
        child<QPlainTextEdit>("Memo2")->toPlainText().contains(QStringLiteral("stopped"), Qt::CaseInsensitive));
}

TEST_F(WizardTest, PromotionalPanelOpensTheBundledUserGuide) {
    showWindow();
    QWidget* panel = child<QWidget>("Panel7");
    QTest::mousePress(panel, Qt::LeftButton, Qt::NoModifier, panel->rect().center());
    EXPECT_EQ(child<QFrame>("Panel7")->frameShadow(), QFrame::Sunken);
    QTest::mouseRelease(panel, Qt::LeftButton, Qt::NoModifier, panel->rect().center());
    EXPECT_EQ(child<QFrame>("Panel7")->frameShape(), QFrame::NoFrame);
    ASSERT_EQ(openedUrls.size(), 1u);
    EXPECT_TRUE(openedUrls[0].isLocalFile());
    EXPECT_TRUE(openedUrls[0].toLocalFile().endsWith(QStringLiteral("/guide.html")));
    EXPECT_TRUE(QFile::exists(openedUrls[0].toLocalFile()));
}

struct FullStop {
    const char* message;
    const char* shown;
};

void PrintTo(const FullStop& message, std::ostream* out) {
    *out << "message '" << message.message << "'";
}

class FullStopTest : public ::testing::TestWithParam<FullStop> {};

TEST_P(FullStopTest, ErrorLeavingAHandlerIsShownOnceWithAFullStop) {
    std::vector<QString> shown;
    uiPrompts().critical = [&](QWidget*, const QString& title, const QString& text) {
        shown.push_back(title + QStringLiteral(" | ") + text);
    };
    bool finished = false;
    const bool completed = runGuarded([&] {
        throw VellisyncError(QString::fromUtf8(GetParam().message));
        finished = true;
    });
    resetUiPrompts();
    EXPECT_FALSE(completed);
    EXPECT_FALSE(finished);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], QStringLiteral("Vellisync | ") + QString::fromUtf8(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(Messages, FullStopTest,
                         ::testing::Values(FullStop{"It's not an integer \"x\"", "It's not an integer \"x\"."},
                                           FullStop{"Cannot write \"a\".", "Cannot write \"a\"."}, FullStop{"", "."}));

TEST(Screenshots, EveryWizardPageHasAPictureInTheGuide) {
    QList<QImage> pictures;
    for (int page = 0; page < TVellisyncMain::PageCount; ++page) {
        const QString path = QStringLiteral(VELLISYNC_SOURCE_DIR "/docs/images/page%1.png").arg(page);
        const QImage picture(path);
        ASSERT_FALSE(picture.isNull()) << path.toStdString();
        EXPECT_GT(picture.width(), picture.height()) << "a landscape window";
        for (const QImage& other : pictures)
            EXPECT_NE(picture, other) << "page " << page << " repeats an earlier picture";
        pictures << picture;
    }
    const QString guide = QString::fromUtf8(readFile(QStringLiteral(VELLISYNC_SOURCE_DIR "/docs/guide.html")));
    for (int page = 0; page < TVellisyncMain::PageCount; ++page)
        EXPECT_TRUE(guide.contains(QStringLiteral("images/page%1.png").arg(page))) << page;
}

TEST_F(RunPageTest, WindowDestroyedDuringARunWaitsForTheRunAndLeavesNothingBehind) {
    makeManyLocalFiles(150);
    describeUploadJob();
    go();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !logLines().isEmpty(); }, 60'000));
    window.reset();
    EXPECT_EQ(CurrentProject->ConnectHandle(), nullptr);
    EXPECT_LT(QDir(m_remote).entryList(QDir::Files).size(), 150);
    // The thread object has let go of the project: its log goes nowhere now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(bool(CurrentProject->OnLog));
}

// The bar follows the plan: it stands short of the total while a file is in
// hand (the server answers its rename late), reaches the total at the end and
// starts from nothing when the next run starts.
TEST_F(RunPageTest, ProgressBarFollowsThePlanAndStartsOverForTheNextRun) {
    m_server.reset();
    startServer({QStringLiteral("RNTO:4")});
    for (int i = 0; i < 5; ++i)
        writeFile(QStringLiteral("%1/file%2.txt").arg(m_local).arg(i), QByteArray(1000, 'x'));
    describeUploadJob();
    go();
    auto* bar = child<QProgressBar>("pbProgress");
    auto* detail = child<QLabel>("lProgress");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            // Some files done, the held one not: the bar stands between its ends.
            static const QRegularExpression partway(QStringLiteral("^[1-4] of 5 files"));
            return partway.match(bar->format()).hasMatch() && bar->value() > 0 && bar->value() < bar->maximum() &&
                   detail->text().startsWith(QStringLiteral("In hand: file"));
        },
        60'000))
        << bar->format().toStdString() << " | " << detail->text().toStdString();
    ASSERT_TRUE(waitForRunEnd());
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(bar->format(), QStringLiteral("5 of 5 files, 4.9 KiB of 4.9 KiB"));
    EXPECT_TRUE(detail->text().startsWith(QStringLiteral("Finished: 5 of 5 files"))) << detail->text().toStdString();

    answers = {QMessageBox::No};
    next();
    ASSERT_EQ(page(), 0);
    describeUploadJob();
    go();
    EXPECT_TRUE(bar->format().isEmpty()) << bar->format().toStdString();
    EXPECT_FALSE(detail->text().contains(QStringLiteral("5 of 5"))) << detail->text().toStdString();
    ASSERT_TRUE(waitForRunEnd());
    EXPECT_EQ(bar->format(), QStringLiteral("0 of 0 files"));
    EXPECT_EQ(bar->value(), bar->maximum());
}
