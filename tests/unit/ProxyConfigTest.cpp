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

TEST(TransferTempNameTest, OneRecognisablePattern) {
    EXPECT_EQ(transferTempName(QStringLiteral("report.pdf")), QStringLiteral(".report.pdf.vstmp"));
    EXPECT_TRUE(isTransferTempName(transferTempName(QStringLiteral("report.pdf"))));
    EXPECT_TRUE(isTransferTempName(transferTempName(QStringLiteral(".htaccess"))));
    for (const char* name : {"report.pdf", ".vstmp", "..vstmp", "report.vstmp", ".report.pdf", ""})
        EXPECT_FALSE(isTransferTempName(QString::fromUtf8(name))) << name;
}

TEST(ErrorDescriptionTest, OnlyTheServicesCodesHaveATextHere) {
    EXPECT_FALSE(errorDescription(ErrorTimeout).isEmpty());
    EXPECT_FALSE(errorDescription(ErrorNoMoreFiles).isEmpty());
    // errno values and unknown codes are described elsewhere.
    EXPECT_TRUE(errorDescription(2).isEmpty());
    EXPECT_TRUE(errorDescription(12345).isEmpty());
}

} // namespace
