#include <gtest/gtest.h>

#include "inet/FtpService.h"
#include "inet/ProxyConfig.h"

using namespace inet;

namespace {

struct ProxyTextCase {
    const char* text;
    bool valid;
    ProxyConfig::Kind kind;
    const char* host;
    quint16 port;
};

class ProxyTextTest : public ::testing::TestWithParam<ProxyTextCase> {};

TEST_P(ProxyTextTest, ReadsTheProxyText) {
    const ProxyTextCase& c = GetParam();
    const std::optional<ProxyConfig> config = parseProxyText(QString::fromUtf8(c.text));
    ASSERT_EQ(config.has_value(), c.valid) << c.text;
    if (!c.valid)
        return;
    EXPECT_EQ(config->kind, c.kind);
    EXPECT_EQ(config->host, QString::fromUtf8(c.host));
    EXPECT_EQ(config->port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ProxyTextTest,
    ::testing::Values(ProxyTextCase{"ftp=ftp://gate:8080", true, ProxyConfig::Kind::Ftp, "gate", 8080},
                      ProxyTextCase{"socks=gate:1080", true, ProxyConfig::Kind::Socks, "gate", 1080},
                      ProxyTextCase{"SOCKS=proxy.example.org:9050", true, ProxyConfig::Kind::Socks, "proxy.example.org",
                                    9050},
                      ProxyTextCase{"socks=[::1]:1080", true, ProxyConfig::Kind::Socks, "::1", 1080},
                      ProxyTextCase{"socks=::1:1080", true, ProxyConfig::Kind::Socks, "::1", 1080},
                      ProxyTextCase{"ftp=ftp://gate", true, ProxyConfig::Kind::Ftp, "gate", 21},
                      ProxyTextCase{"socks=gate", true, ProxyConfig::Kind::Socks, "gate", 1080},
                      // The project's text for an unknown proxy kind has no prefix.
                      ProxyTextCase{"gate:8080", false, ProxyConfig::Kind::Ftp, "", 0},
                      ProxyTextCase{"http=http://gate:8080", false, ProxyConfig::Kind::Ftp, "", 0},
                      ProxyTextCase{"socks=:1080", false, ProxyConfig::Kind::Ftp, "", 0},
                      ProxyTextCase{"socks=gate:0", false, ProxyConfig::Kind::Ftp, "", 0},
                      ProxyTextCase{"socks=gate:65536", false, ProxyConfig::Kind::Ftp, "", 0},
                      ProxyTextCase{"socks=gate:12ab", false, ProxyConfig::Kind::Ftp, "", 0},
                      ProxyTextCase{"ftp=ftp://", false, ProxyConfig::Kind::Ftp, "", 0},
                      ProxyTextCase{"", false, ProxyConfig::Kind::Ftp, "", 0}));

TEST(TransferTempNameTest, OneRecognisablePatternPerRun) {
    const QString token = QStringLiteral("0a1b2c3d");
    EXPECT_EQ(transferTempName(QStringLiteral("report.pdf"), token), QStringLiteral(".report.pdf.0a1b2c3d.vstmp"));
    EXPECT_EQ(transferTempName(QStringLiteral("report.pdf"), token, TempNameStyle::Visible),
              QStringLiteral("report.pdf.0a1b2c3d.vstmp"));
    EXPECT_EQ(asideTempName(QStringLiteral("page.html")), QStringLiteral(".page.html.vsold.vstmp"));
    EXPECT_EQ(originalOfAsideName(asideTempName(QStringLiteral("page.html"), TempNameStyle::Visible)),
              QStringLiteral("page.html"));
    EXPECT_NE(newTransferToken(), newTransferToken());
    EXPECT_TRUE(isTransferToken(newTransferToken()));
    struct Case {
        const char* name;
        bool ours;
        const char* token;
    };
    for (const Case& c :
         {Case{".report.pdf.0a1b2c3d.vstmp", true, "0a1b2c3d"}, Case{"report.pdf.0a1b2c3d.vstmp", true, "0a1b2c3d"},
          Case{"..htaccess.0a1b2c3d.vstmp", true, "0a1b2c3d"},
          Case{".report.pdf.vstmp", true, ""}, // an earlier version's
          Case{".page.html.vsold.vstmp", true, ""}, Case{"page.html.vsold.vstmp", true, ""},
          // A user's names, never taken for ours.
          Case{"report.pdf", false, ""}, Case{".vstmp", false, ""}, Case{"..vstmp", false, ""},
          Case{"report.vstmp", false, ""}, Case{".report.pdf", false, ""}, Case{"", false, ""},
          Case{"report.0A1B2C3D.vstmp", false, ""}, Case{"report.0a1b2c3.vstmp", false, ""},
          Case{"x.vsold.vstmp.txt", false, ""}}) {
        EXPECT_EQ(isTransferTempName(QString::fromUtf8(c.name)), c.ours) << c.name;
        EXPECT_EQ(transferTokenOf(QString::fromUtf8(c.name)), QString::fromUtf8(c.token)) << c.name;
    }
}

TEST(ErrorDescriptionTest, OnlyTheServicesCodesHaveATextHere) {
    EXPECT_FALSE(errorDescription(ErrorTimeout).isEmpty());
    EXPECT_FALSE(errorDescription(ErrorNoMoreFiles).isEmpty());
    // errno values and unknown codes are described elsewhere.
    EXPECT_TRUE(errorDescription(2).isEmpty());
    EXPECT_TRUE(errorDescription(12345).isEmpty());
}

} // namespace
