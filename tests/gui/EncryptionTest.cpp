// The wizard's side of TLS: the encryption choice on the FTP Server page and
// the question whether to trust a refused certificate, against pyftpdlib's
// TLS handler with a self-signed certificate.
#include "gui/WizardFixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>

#include "inet/FtpService.h"
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
    EXPECT_EQ(CurrentProject->Encryption, setting::Encryption::ExplicitRequired);
    back();
    EXPECT_EQ(choice()->currentIndex(), 2);
}

class TrustQuestionTest : public EncryptionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TrustQuestionTest, RefusedCertificateIsTrustedOnYesAndTheRunGoesAgain) {
    const bool trust = GetParam();
    const QString remote = m_home.filePath(QStringLiteral("remote"));
    QDir().mkpath(remote);
    QDir().mkpath(m_home.filePath(QStringLiteral("local")));
    QFile file(m_home.filePath(QStringLiteral("local/index.html")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("<p>hi</p>") > 0);
    file.close();
    const std::optional<TestCertificate> certificate = makeTestCertificate(m_home.path(), QStringLiteral("server"));
    ASSERT_TRUE(certificate);
    FtpTestServerOptions options;
    options.root = remote;
    options.anonymous = true;
    options.tlsCertificate = certificate->combinedFile;
    options.tlsRequired = true;
    options.extraArguments = {QStringLiteral("--port"), QString::number(closedLoopbackPort())};
    FtpTestServer server(options);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();

    showWindow();
    answers.push_back(trust ? QMessageBox::Yes : QMessageBox::No);
    walkNewProjectTo(TVellisyncMain::GoPage, server.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !questions.empty() && !window->runActive(); }, 120'000));
    const QString fingerprint = inet::fingerprintText(certificate->sha256);
    EXPECT_EQ(questions.front().title, QStringLiteral("Trust Certificate"));
    EXPECT_TRUE(questions.front().text.contains(fingerprint)) << questions.front().text.toStdString();
    EXPECT_EQ(questions.front().defaultButton, QMessageBox::No);
    const QString uploaded = remote + QStringLiteral("/index.html");
    if (trust) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(uploaded) && !window->runActive(); }, 120'000));
        EXPECT_EQ(CurrentProject->TrustedCertificate, fingerprint);
    } else {
        QCoreApplication::processEvents();
        EXPECT_FALSE(window->runActive());
        EXPECT_TRUE(CurrentProject->TrustedCertificate.isEmpty());
        EXPECT_FALSE(QFile::exists(uploaded));
    }
    EXPECT_EQ(questions.size(), 1u) << "one question per refused run";
}

INSTANTIATE_TEST_SUITE_P(Answers, TrustQuestionTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Yes" : "No"); });

} // namespace
