// The wizard's pages, their order and buttons, what each page checks and
// stores when it is left, and what it shows when it is entered.
#include "gui/WizardFixture.h"

#include <QGroupBox>
#include <QLabel>
#include <QScopeGuard>

namespace {

const char* const Titles[] = {"1. Welcome to Vellisync.", "2. Connection.",     "3. Proxy settings", "4. Folders.",
                              "5. File masks.",           "6. Check settings.", "7. Finishing."};

} // namespace

TEST_F(WizardTest, ShowsPageZeroWithVersionInCaptionAndControlDefaults) {
    showWindow();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vellisync 1.4"));
    EXPECT_EQ(page(), 0);
    EXPECT_EQ(child<QLabel>("Label13")->text(), QString::fromLatin1(Titles[0]));
    EXPECT_TRUE(child<QRadioButton>("rbNewProject")->isChecked());
    EXPECT_FALSE(child<QListWidget>("lvProjects")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("bRemoveProject")->isEnabled());
    EXPECT_EQ(child<QLineEdit>("ePort")->text(), QStringLiteral("21"));
    EXPECT_EQ(child<QSpinBox>("udPort")->minimum(), 1);
    EXPECT_EQ(child<QSpinBox>("udPort")->maximum(), 65535);
    EXPECT_EQ(child<QSpinBox>("udProxyPort")->minimum(), 0);
    EXPECT_EQ(child<QSpinBox>("udProxyPort")->maximum(), 65535);
    EXPECT_EQ(child<QLineEdit>("eIncludeMasks")->text(), QStringLiteral("*.*"));
    EXPECT_EQ(child<QLineEdit>("ePassword")->echoMode(), QLineEdit::Password);
    // Fixed size: the window cannot be resized.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
}

// A port is copied as it is written: no group separator, whatever the
// locale ("20,876" under en_US is no port a server announces).
TEST_F(WizardTest, PortsShowNoGroupSeparatorAndStopAtTheEndsOfTheirRange) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const auto restoreLocale = qScopeGuard([&] { QLocale::setDefault(previous); });
    // Widgets take the default locale when they are made.
    window.reset();
    window = std::make_unique<TVellisyncMain>();
    showWindow();
    next();
    for (const char* name : {"udPort", "udProxyPort"}) {
        SCOPED_TRACE(name);
        auto* field = child<QSpinBox>(name);
        field->setValue(20876);
        EXPECT_EQ(field->text(), QStringLiteral("20876"));
        EXPECT_EQ(field->findChild<QLineEdit*>()->text(), QStringLiteral("20876"));
    }
    auto* port = child<QSpinBox>("udPort");
    port->setValue(65534);
    QTest::keyClick(child<QLineEdit>("ePort"), Qt::Key_Up);
    QTest::keyClick(child<QLineEdit>("ePort"), Qt::Key_Up);
    EXPECT_EQ(port->value(), 65535);
    EXPECT_EQ(child<QLineEdit>("ePort")->text(), QStringLiteral("65535"));
    port->setValue(1);
    QTest::keyClick(child<QLineEdit>("ePort"), Qt::Key_Down);
    EXPECT_EQ(port->value(), 1);
}

TEST_F(WizardTest, PagesFollowInOrderWithTheirCaptionsAndWrapFromTheLastToTheFirst) {
    showWindow();
    const quint16 port = closedLoopbackPort();
    for (int expected = 0; expected < TVellisyncMain::PageCount; ++expected) {
        ASSERT_EQ(page(), expected);
        EXPECT_EQ(child<QLabel>("Label13")->text(), QString::fromLatin1(Titles[expected]));
        const bool backEnabled = expected != 0 && expected != 6;
        EXPECT_EQ(child<QPushButton>("bBack")->isEnabled(), backEnabled) << "page " << expected;
        const QString nextCaption = expected == 5   ? QStringLiteral("Go!")
                                    : expected == 6 ? QStringLiteral("Begin >>")
                                                    : QStringLiteral("Next >>");
        EXPECT_EQ(child<QPushButton>("bNext")->text(), nextCaption) << "page " << expected;
        if (expected < 6)
            walkNewProjectTo(expected + 1, port);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->runActive(); }, 120'000));
    EXPECT_TRUE(child<QPushButton>("bNext")->isEnabled());
    answers = {QMessageBox::No};
    next();
    EXPECT_EQ(page(), 0);
    EXPECT_EQ(questions.size(), 1u);
}

TEST_F(WizardTest, BackFromEachEditingPageGoesOnePageBack) {
    showWindow();
    walkNewProjectTo(5);
    for (int expected = 4; expected >= 0; --expected) {
        back();
        EXPECT_EQ(page(), expected);
    }
    EXPECT_FALSE(child<QPushButton>("bBack")->isEnabled());
}

TEST_F(WizardTest, EnterPressesNext) {
    showWindow();
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_EQ(page(), 1);
    QTest::keyClick(child<QLineEdit>("eHost"), Qt::Key_Return);
    EXPECT_EQ(page(), 2);
}

struct RequiredEdit {
    int page;
    const char* edit;
    bool untickAnonymous;
};

void PrintTo(const RequiredEdit& edit, std::ostream* out) {
    *out << "page " << edit.page << " empty " << edit.edit;
}

class RequiredEditTest : public WizardTest, public ::testing::WithParamInterface<RequiredEdit> {};

TEST_P(RequiredEditTest, EmptyEditIsRefusedWithFocusAndSoundAndNothingStored) {
    const RequiredEdit param = GetParam();
    showWindow();
    walkNewProjectTo(param.page);
    if (param.untickAnonymous)
        click("cbAnonim");
    type("eHost", QStringLiteral("ftp.changed.test"));
    type("eRemote", QStringLiteral("/changed"));
    type(param.edit, QString());
    const int beepsBefore = beeps;
    next();
    EXPECT_EQ(page(), param.page);
    EXPECT_EQ(beeps, beepsBefore + 1);
    EXPECT_EQ(QApplication::focusWidget(), child<QWidget>(param.edit));
    EXPECT_TRUE(errors.empty());
    // Nothing of the refused page reached the project.
    EXPECT_NE(CurrentProject->Server, QStringLiteral("ftp.changed.test"));
    EXPECT_NE(CurrentProject->RemoteFolder, QStringLiteral("/changed"));
}

INSTANTIATE_TEST_SUITE_P(Pages, RequiredEditTest,
                         ::testing::Values(RequiredEdit{1, "eHost", false}, RequiredEdit{1, "eUserName", true},
                                           RequiredEdit{1, "ePassword", true}, RequiredEdit{3, "eRemote", false},
                                           RequiredEdit{3, "eLocal", false}));

TEST_F(WizardTest, AnonymousLogonFillsAndLocksTheLogonEdits) {
    showWindow();
    next();
    auto* user = child<QLineEdit>("eUserName");
    auto* password = child<QLineEdit>("ePassword");
    EXPECT_TRUE(child<QCheckBox>("cbAnonim")->isChecked());
    EXPECT_EQ(user->text(), QStringLiteral("anonymous"));
    EXPECT_FALSE(user->isEnabled());
    EXPECT_FALSE(password->isEnabled());
    const QString placeholder = password->text();
    EXPECT_FALSE(placeholder.isEmpty());

    click("cbAnonim");
    EXPECT_TRUE(user->isEnabled());
    EXPECT_TRUE(password->isEnabled());
    EXPECT_EQ(user->text(), QStringLiteral("anonymous")) << "unticking keeps the text";
    type("eUserName", QStringLiteral("alice"));
    type("ePassword", QStringLiteral("pw"));
    click("cbAnonim");
    EXPECT_EQ(user->text(), QStringLiteral("anonymous"));
    EXPECT_EQ(password->text(), placeholder);
}

struct StoredUser {
    const char* userName;
    bool ticked;
};

void PrintTo(const StoredUser& user, std::ostream* out) {
    *out << "user '" << user.userName << "'";
}

class StoredUserTest : public WizardTest, public ::testing::WithParamInterface<StoredUser> {};

TEST_P(StoredUserTest, AnonymousIsTickedExactlyForTheAnonymousName) {
    const QString userName = QString::fromLatin1(GetParam().userName);
    storeProject(QStringLiteral("Stored"), [&](TVellisyncProject& project) {
        project.SetUserName(userName);
        project.SetPassword(QStringLiteral("secret"));
    });
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Stored"));
    next();
    ASSERT_EQ(page(), 1);
    EXPECT_EQ(child<QCheckBox>("cbAnonim")->isChecked(), GetParam().ticked);
    if (!GetParam().ticked) {
        EXPECT_EQ(child<QLineEdit>("eUserName")->text(), userName);
        EXPECT_EQ(child<QLineEdit>("ePassword")->text(), QStringLiteral("secret"));
    }
}

INSTANTIATE_TEST_SUITE_P(Names, StoredUserTest,
                         ::testing::Values(StoredUser{"ANONYMOUS", true}, StoredUser{"anonymous", true},
                                           StoredUser{" anonymous", false}, StoredUser{"bob", false}));

TEST_F(WizardTest, EditsOfAPageAreDroppedOnBackAndRefilledFromTheProject) {
    showWindow();
    walkNewProjectTo(3);
    const QString stored = CurrentProject->RemoteFolder;
    type("eRemote", QStringLiteral("/typed/before/back"));
    back();
    next();
    EXPECT_EQ(child<QLineEdit>("eRemote")->text(), stored);
    EXPECT_EQ(CurrentProject->RemoteFolder, stored);
}

TEST_F(WizardTest, MasksAreStoredWhenThePageIsLeftWithBack) {
    showWindow();
    walkNewProjectTo(4);
    type("eIncludeMasks", QStringLiteral("*.html, *.css"));
    type("eExcludeMasks", QStringLiteral("*.bak"));
    back();
    EXPECT_EQ(page(), 3);
    EXPECT_EQ(CurrentProject->IncludeMasks, QStringLiteral("*.html, *.css"));
    EXPECT_EQ(CurrentProject->ExcludeMasks, QStringLiteral("*.bak"));
}

TEST_F(WizardTest, ReviewPageShowsTheProjectsReviewText) {
    showWindow();
    walkNewProjectTo(3);
    type("eRemote", QStringLiteral("  /pub/site  "));
    click("rgModeItem0");
    click("cbExact");
    walkNewProjectTo(5);
    EXPECT_EQ(CurrentProject->RemoteFolder, QStringLiteral("/pub/site"));
    EXPECT_TRUE(CurrentProject->Exact);
    const QString shown = child<QPlainTextEdit>("mReview")->toPlainText();
    QString expected = CurrentProject->GetReviewText();
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(shown.contains(QStringLiteral("Remote folder: /pub/site")));
}

TEST_F(WizardTest, BothWaysDisablesExactCopyButKeepsAndStoresItsTick) {
    showWindow();
    walkNewProjectTo(3);
    click("rgModeItem0");
    click("cbExact");
    click("rgModeItem2");
    auto* exact = child<QCheckBox>("cbExact");
    EXPECT_FALSE(exact->isEnabled());
    EXPECT_TRUE(exact->isChecked());
    walkNewProjectTo(4);
    EXPECT_EQ(CurrentProject->SyncMode, setting::SyncMode::Bidirectional);
    EXPECT_TRUE(CurrentProject->Exact);
}

TEST_F(WizardTest, StoredModePastTheLastItemShowsBothWays) {
    storeProject(QStringLiteral("Odd mode"),
                 [](TVellisyncProject& project) { project.SetSyncMode(setting::SyncMode(3)); });
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Odd mode"));
    walkNewProjectTo(3);
    EXPECT_TRUE(child<QRadioButton>("rgModeItem2")->isChecked());
    EXPECT_FALSE(child<QCheckBox>("cbExact")->isEnabled());
}

TEST_F(WizardTest, ProxyPageEnablesItsSettingsOnlyForUseProxyAndStoresThem) {
    showWindow();
    walkNewProjectTo(2);
    auto* settings = child<QGroupBox>("gbProxySettings");
    EXPECT_FALSE(settings->isEnabled());
    EXPECT_FALSE(child<QLineEdit>("eProxyHost")->isEnabled());
    click("rgUsingProxyItem1");
    EXPECT_TRUE(settings->isEnabled());
    EXPECT_TRUE(child<QLineEdit>("eProxyHost")->isEnabled());
    click("rbSocks");
    type("eProxyHost", QString());
    child<QSpinBox>("udProxyPort")->setValue(1080);
    next();
    EXPECT_EQ(page(), 3) << "an empty proxy host passes";
    EXPECT_TRUE(CurrentProject->UseProxy);
    EXPECT_EQ(CurrentProject->ProxyKind, setting::ProxyKind::Socks);
    EXPECT_EQ(CurrentProject->ProxyPort, 1080);
}

struct StoredPort {
    const char* label;
    qint32 port;
    bool useProxy;
    qint32 proxyPort;
    int page;                          // the page of the port's field
    const char* spin;                  // the field
    const char* edit;                  // its edit
    qint32 TVellisyncProject::*stored; // the setting it edits
    bool shown;                        // the field shows the stored port
    const char* message;               // told when the project is opened; nullptr for none
};

void PrintTo(const StoredPort& port, std::ostream* out) {
    *out << port.label;
}

class StoredPortTest : public WizardTest, public ::testing::WithParamInterface<StoredPort> {};

// A port the field cannot hold is reported when the project is opened, never
// clamped: the field stays empty, the page is refused until a port is typed,
// and until then the project keeps the stored value.
TEST_P(StoredPortTest, PortOutsideTheFieldIsReportedAndKeptUntilOneIsTyped) {
    const StoredPort param = GetParam();
    storeProject(QStringLiteral("Ports"), [&](TVellisyncProject& project) {
        project.SetPort(param.port);
        project.SetUseProxy(param.useProxy);
        project.SetProxyPort(param.proxyPort);
    });
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Ports"));
    next();
    ASSERT_EQ(page(), 1);
    if (param.message)
        EXPECT_EQ(informations, std::vector<QString>{QString::fromLatin1(param.message)});
    else
        EXPECT_TRUE(informations.empty()) << informations.front().toStdString();
    if (param.page == 2)
        next();
    ASSERT_EQ(page(), param.page);
    const qint32 storedValue = (*CurrentProject).*param.stored;
    EXPECT_EQ(child<QLineEdit>(param.edit)->text(), param.shown ? QString::number(storedValue) : QString());

    const int beepsBefore = beeps;
    next();
    if (param.message) {
        EXPECT_EQ(page(), param.page);
        EXPECT_EQ(beeps, beepsBefore + 1);
        EXPECT_TRUE(child<QSpinBox>(param.spin)->hasFocus());
        EXPECT_EQ((*CurrentProject).*param.stored, storedValue);
        EXPECT_FALSE(CurrentProject->Modified);
        type(param.edit, QStringLiteral("2121"));
        next();
        EXPECT_EQ(page(), param.page + 1);
        EXPECT_EQ((*CurrentProject).*param.stored, 2121);
    } else {
        EXPECT_EQ(page(), param.page + 1);
        EXPECT_EQ(beeps, beepsBefore);
        EXPECT_EQ((*CurrentProject).*param.stored, storedValue);
        EXPECT_FALSE(CurrentProject->Modified);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ports, StoredPortTest,
    ::testing::Values(
        StoredPort{"server port past 32767", 40021, false, 21, 1, "udPort", "ePort", &TVellisyncProject::Port, true,
                   nullptr},
        StoredPort{"server port past 16 bits", 89536, false, 21, 1, "udPort", "ePort", &TVellisyncProject::Port, false,
                   "Port 89536 is outside the range 1 to 65535. Enter a port in that range before going on."},
        StoredPort{"server port zero", 0, false, 21, 1, "udPort", "ePort", &TVellisyncProject::Port, false,
                   "Port 0 is outside the range 1 to 65535. Enter a port in that range before going on."},
        StoredPort{"proxy port zero", 21, true, 0, 2, "udProxyPort", "eProxyPort", &TVellisyncProject::ProxyPort, true,
                   nullptr},
        StoredPort{"proxy port past 16 bits", 21, true, 70000, 2, "udProxyPort", "eProxyPort",
                   &TVellisyncProject::ProxyPort, false,
                   "Proxy port 70000 is outside the range 0 to 65535. Enter a port in that range before going on."},
        StoredPort{"unused proxy port", 21, false, -1, 2, "udProxyPort", "eProxyPort", &TVellisyncProject::ProxyPort,
                   false, nullptr}));

struct StoredConnections {
    qint32 stored;
    const char* message; // told when the project is opened; nullptr when the field shows the value
};

void PrintTo(const StoredConnections& c, std::ostream* out) {
    *out << c.stored << " connections";
}

class StoredConnectionsTest : public WizardTest, public ::testing::WithParamInterface<StoredConnections> {};

// Like a port: a stored value the field shows comes back as typed; one it
// cannot hold is reported, kept, and the page waits for a value in range.
TEST_P(StoredConnectionsTest, FieldShowsTheStoredValueAndStoresWhatIsTyped) {
    const StoredConnections param = GetParam();
    storeProject(QStringLiteral("Pool"), [&](TVellisyncProject& project) { project.SetConnections(param.stored); });
    showWindow();
    click("rbOpenExisting");
    selectProject(QStringLiteral("Pool"));
    next();
    ASSERT_EQ(page(), 1);
    if (param.message) {
        EXPECT_EQ(informations, std::vector<QString>{QString::fromLatin1(param.message)});
        EXPECT_EQ(child<QLineEdit>("eConnections")->text(), QString());
        next();
        EXPECT_EQ(page(), 1);
        EXPECT_EQ(beeps, 1);
        EXPECT_EQ(CurrentProject->Connections, param.stored);
    } else {
        EXPECT_TRUE(informations.empty());
        EXPECT_EQ(child<QLineEdit>("eConnections")->text(), QString::number(param.stored));
    }
    type("eConnections", QStringLiteral("9"));
    next();
    EXPECT_EQ(page(), 2);
    EXPECT_EQ(CurrentProject->Connections, 9);
    EXPECT_TRUE(CurrentProject->Modified);
}

INSTANTIATE_TEST_SUITE_P(
    Connections, StoredConnectionsTest,
    ::testing::Values(StoredConnections{7, nullptr},
                      StoredConnections{0, "Simultaneous connections 0 is outside the range 1 to 16. Enter a number "
                                           "in that range before going on."},
                      StoredConnections{17, "Simultaneous connections 17 is outside the range 1 to 16. Enter a "
                                            "number in that range before going on."}));

TEST_F(WizardTest, BrowseButtonPutsTheChosenFolderIntoLocalFolder) {
    showWindow();
    walkNewProjectTo(3);
    type("eLocal", QStringLiteral("/kept"));
    folderAnswer = QString();
    click("Button6");
    EXPECT_EQ(child<QLineEdit>("eLocal")->text(), QStringLiteral("/kept"));
    folderAnswer = m_home.path();
    click("Button6");
    EXPECT_EQ(child<QLineEdit>("eLocal")->text(), m_home.path());
}

TEST_F(WizardTest, OpenExistingWithoutSelectionStaysSilently) {
    showWindow();
    click("rbOpenExisting");
    next();
    EXPECT_EQ(page(), 0);
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(errors.empty());
}
