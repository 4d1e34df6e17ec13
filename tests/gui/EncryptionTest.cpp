// The wizard's side of TLS: the encryption choice on the FTP Server page and
// the question whether to trust a refused certificate, against pyftpdlib's
// TLS handler with a self-signed certificate.
#include "gui/WizardFixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>

#include "support/FtpTestServer.h"
#include "support/TlsFixtures.h"

namespace {

class EncryptionTest : public WizardTest {
protected:
    QComboBox* choice() { return child<QComboBox>("cbEncryption"); }
    void choose(int steps, Qt::Key key) {
        QComboBox* box = choice();
        box->setFocus();
        for (int i = 0; i < steps; ++i)
            QTest::keyClick(box, key);
    }
};

TEST_F(EncryptionTest, NewProjectAsksForTlsAndImplicitTlsMovesTheUsualPort) {
    showWindow();
    next();
    ASSERT_EQ(page(), TVellisyncMain::ServerPage);
    EXPECT_EQ(choice()->currentIndex(), 1);
    auto* port = child<QSpinBox>("udPort");
    ASSERT_EQ(port->value(), 21);
    choose(2, Qt::Key_Down); // implicit
    EXPECT_EQ(port->value(), 990);
    choose(1, Qt::Key_Up); // explicit, required
    EXPECT_EQ(port->value(), 21);
    port->setValue(2121);
    choose(1, Qt::Key_Down);
    EXPECT_EQ(port->value(), 2121) << "a port of the user's own stays";
    choose(1, Qt::Key_Up);

    type("eHost", QStringLiteral("127.0.0.1"));
    next();
    EXPECT_EQ(CurrentProject->Encryption, 2);
    back();
    EXPECT_EQ(choice()->currentIndex(), 2);
}

class TrustQuestionTest : public EncryptionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TrustQuestionTest, RefusedCertificateIsTrustedOnYesAndTheRunGoesAgain) {
    const bool trust = GetParam();
    const QString remote = m_home.filePath(QStringLiteral("remote"));
    const QString local = m_home.filePath(QStringLiteral("local"));
    QDir().mkpath(remote);
    QDir().mkpath(local);
    QFile file(local + QStringLiteral("/index.html"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<p>hi</p>");
    file.close();
    const std::optional<TestCertificate> certificate = makeTestCertificate(m_home.path(), QStringLiteral("server"));
    ASSERT_TRUE(certificate);
    FtpTestServerOptions options;
    options.root = remote;
    options.tlsCertificate = certificate->combinedFile;
    options.tlsRequired = true;
    options.extraArguments = {QStringLiteral("--port"), QString::number(closedLoopbackPort())};
    FtpTestServer server(options);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();

    showWindow();
    next();
    type("eHost", server.host());
    child<QSpinBox>("udPort")->setValue(server.port());
    click("cbAnonim");
    type("eUserName", options.user);
    type("ePassword", options.password);
    click("cbPassive");
    next();
    next();
    type("eRemote", QStringLiteral("/"));
    type("eLocal", local);
    click("rgModeItem0");
    next();
    next();
    answers.push_back(trust ? QMessageBox::Yes : QMessageBox::No);
    next();
    ASSERT_EQ(page(), TVellisyncMain::GoPage);

    const QString fingerprint = inet::fingerprintText(certificate->sha256);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !questions.empty() && !window->runActive(); }, 120'000));
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions.front().title, QStringLiteral("Trust Certificate"));
    EXPECT_TRUE(questions.front().text.contains(fingerprint)) << questions.front().text.toStdString();
    EXPECT_EQ(questions.front().defaultButton, QMessageBox::No);
    if (trust) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(remote + QStringLiteral("/index.html")); }, 120'000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->runActive(); }, 120'000));
        EXPECT_EQ(CurrentProject->TrustedCertificate, fingerprint);
        EXPECT_TRUE(CurrentProject->Modified);
    } else {
        QCoreApplication::processEvents();
        EXPECT_FALSE(window->runActive());
        EXPECT_TRUE(CurrentProject->TrustedCertificate.isEmpty());
        EXPECT_FALSE(QFile::exists(remote + QStringLiteral("/index.html")));
    }
    EXPECT_EQ(questions.size(), 1u) << "one question per refused run";
}

INSTANTIATE_TEST_SUITE_P(Answers, TrustQuestionTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Yes" : "No"); });

} // namespace
