// The server page's keyring choice, with a real Secret Service of the test's
// own (each case runs in a process of its own, as ctest runs them) and
// without one: where a new project's password goes, what an opened project
// shows, and that a removed project takes its keyring entry along.
#include "gui/WizardFixture.h"

#include <QCheckBox>
#include <QLineEdit>

#include "project/PasswordKeyring.h"
#include "support/KeyringSession.h"
#include "support/TestFiles.h"

namespace {

class KeyringPageTest : public WizardTest, public ::testing::WithParamInterface<bool> {
protected:
    bool withKeyring() const { return GetParam(); }

    // Opens the stored project with the caption on a fresh window, at the server page.
    void openStored(const QString& caption) {
        window = std::make_unique<TVellisyncMain>();
        showWindow();
        click("rbOpenExisting");
        selectProject(caption);
        next();
        ASSERT_EQ(page(), TVellisyncMain::ServerPage);
    }
};

} // namespace

TEST_P(KeyringPageTest, NewPasswordsGoToTheKeyringWhenThereIsOneAndStoredOnesStayWhereTheyAre) {
    KeyringSession keyring;
    if (withKeyring()) {
        if (const QString reason = keyring.start(); !reason.isEmpty())
            GTEST_SKIP() << "no Secret Service here: " << reason.toStdString();
        keyring.useInThisProcess();
    }
    storeProject(QStringLiteral("Scrambled"), [](TVellisyncProject& project) {
        project.SetUserName(QStringLiteral("tester"));
        project.SetPassword(QStringLiteral("old-secret"));
    });

    showWindow();
    next();
    auto* box = child<QCheckBox>("cbKeyring");
    EXPECT_EQ(box->isHidden(), !withKeyring());
    EXPECT_EQ(box->isChecked(), withKeyring()) << "a new project takes the keyring when there is one";
    click("cbAnonim");
    type("eUserName", QStringLiteral("tester"));
    type("ePassword", QStringLiteral("secret"));
    next();
    ASSERT_EQ(page(), TVellisyncMain::ProxyPage);
    CurrentProject->SetCaption(QStringLiteral("Kept"));
    const QString file = ProjectsFolder + QStringLiteral("/kept.VSPJ");
    ASSERT_TRUE(CurrentProject->SaveToFile(file)); // as the run page's save does
    EXPECT_EQ(readFile(file).contains("Password="), !withKeyring());
    const QString entry = CurrentProject->KeyringEntry;
    EXPECT_EQ(entry.isEmpty(), !withKeyring());

    openStored(QStringLiteral("Kept"));
    EXPECT_EQ(child<QLineEdit>("ePassword")->text(), QStringLiteral("secret"));
    EXPECT_EQ(child<QCheckBox>("cbKeyring")->isChecked(), withKeyring());
    EXPECT_TRUE(informations.empty());

    openStored(QStringLiteral("Scrambled"));
    EXPECT_EQ(child<QLineEdit>("ePassword")->text(), QStringLiteral("old-secret"));
    EXPECT_EQ(child<QCheckBox>("cbKeyring")->isHidden(), !withKeyring()) << "offered to move";
    EXPECT_FALSE(child<QCheckBox>("cbKeyring")->isChecked());

    if (withKeyring()) {
        window = std::make_unique<TVellisyncMain>();
        showWindow();
        click("rbOpenExisting");
        selectProject(QStringLiteral("Kept"));
        answers = {QMessageBox::Yes};
        click("bRemoveProject");
        QString error;
        EXPECT_FALSE(PasswordKeyring().readPassword(entry, error)) << "the removed project's entry stays";
    }
}

INSTANTIATE_TEST_SUITE_P(Keyring, KeyringPageTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WithKeyring" : "WithoutKeyring"; });
