#include "project/VellisyncProject.h"

#include <gtest/gtest.h>

#include "support/ProjectValues.h"
#include "support/QtPrinters.h"

#include <functional>
#include <ostream>

namespace {

using Change = std::function<void(TVellisyncProject&)>;

struct SetterCase {
    const char* label;
    Change applySame;  // the value the defaulted project already holds
    Change applyOther; // a different value
};

void PrintTo(const SetterCase& c, std::ostream* out) {
    *out << c.label;
}

class SetterModifiedTest : public ::testing::TestWithParam<SetterCase> {};

TEST_P(SetterModifiedTest, OnlyAChangedValueMarksTheProjectModified) {
    TVellisyncProject project;
    project.SetDefaults();
    GetParam().applySame(project);
    EXPECT_FALSE(project.Modified) << "same value";
    GetParam().applyOther(project);
    EXPECT_TRUE(project.Modified) << "other value";
}

const SetterCase setterCases[] = {
    {"Caption", [](auto& p) { p.SetCaption("<No Caption>"); }, [](auto& p) { p.SetCaption("<no caption>"); }},
    {"Server", [](auto& p) { p.SetServer("ftp.example.com"); }, [](auto& p) { p.SetServer("FTP.example.com"); }},
    {"Port", [](auto& p) { p.SetPort(21); }, [](auto& p) { p.SetPort(2121); }},
    {"UserName", [](auto& p) { p.SetUserName("anonymous"); }, [](auto& p) { p.SetUserName("anonymous "); }},
    {"Password", [](auto& p) { p.SetPassword("guest@example.com"); }, [](auto& p) { p.SetPassword(""); }},
    {"Passive", [](auto& p) { p.SetPassive(false); }, [](auto& p) { p.SetPassive(true); }},
    {"RemoteFolder", [](auto& p) { p.SetRemoteFolder(" \t/\r\n"); }, [](auto& p) { p.SetRemoteFolder("/pub"); }},
    {"LocalFolder", [](auto& p) { p.SetLocalFolder(""); }, [](auto& p) { p.SetLocalFolder(" "); }},
    {"SyncMode", [](auto& p) { p.SetSyncMode(setting::SyncMode::Bidirectional); },
     [](auto& p) { p.SetSyncMode(setting::SyncMode::LocalToRemote); }},
    {"SubFilders", [](auto& p) { p.SetSubFilders(false); }, [](auto& p) { p.SetSubFilders(true); }},
    {"Exact", [](auto& p) { p.SetExact(false); }, [](auto& p) { p.SetExact(true); }},
    {"IncludeMasks", [](auto& p) { p.SetIncludeMasks("*.*"); }, [](auto& p) { p.SetIncludeMasks("*.txt"); }},
    {"ExcludeMasks", [](auto& p) { p.SetExcludeMasks(""); }, [](auto& p) { p.SetExcludeMasks("*.bak"); }},
    {"UseProxy", [](auto& p) { p.SetUseProxy(false); }, [](auto& p) { p.SetUseProxy(true); }},
    {"ProxyKind", [](auto& p) { p.SetProxyKind(setting::ProxyKind::Ftp); },
     [](auto& p) { p.SetProxyKind(setting::ProxyKind::Socks); }},
    {"ProxyServer", [](auto& p) { p.SetProxyServer("\x01 "); }, [](auto& p) { p.SetProxyServer("proxy"); }},
    {"ProxyPort", [](auto& p) { p.SetProxyPort(21); }, [](auto& p) { p.SetProxyPort(1080); }},
};

INSTANTIATE_TEST_SUITE_P(AllSetters, SetterModifiedTest, ::testing::ValuesIn(setterCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ProjectSettings, TrimmingSettersStoreTheTrimmedTextAndCompareIt) {
    TVellisyncProject project;
    project.SetRemoteFolder(" \t/public  ");
    EXPECT_EQ(project.RemoteFolder, "/public");
    project.Modified = false;
    project.SetRemoteFolder("\n/public\x1f");
    EXPECT_FALSE(project.Modified);
    project.SetRemoteFolder("/pub lic");
    EXPECT_EQ(project.RemoteFolder, "/pub lic") << "inner blanks stay";

    project.SetProxyServer("  proxy.local ");
    EXPECT_EQ(project.ProxyServer, "proxy.local");
    project.Modified = false;
    project.SetProxyServer("proxy.local\t");
    EXPECT_FALSE(project.Modified);
}

TEST(ProjectSettings, SetDefaultsGivesANewProjectAndClearsModifiedStopAndFileName) {
    TVellisyncProject project;
    project.FileName = "/tmp/x.VSPJ";
    project.ProxyServer = "proxy";
    project.UseProxy = true;
    project.RequestStop();
    project.SetDefaults();

    EXPECT_EQ(settingsOf(project), QStringList({"Caption=<No Caption>",
                                                "Server=ftp.example.com",
                                                "Port=21",
                                                "UserName=anonymous",
                                                "Password=guest@example.com",
                                                "PasswordStore=",
                                                "KeyringEntry=",
                                                "Passive=0",
                                                "Encryption=1",
                                                "TrustedCertificate=",
                                                "Connections=4",
                                                "ListingTimeZone=",
                                                "RemoteFolder=/",
                                                "LocalFolder=",
                                                "SyncMode=2",
                                                "SubFilders=0",
                                                "Exact=0",
                                                "Conflicts=0",
                                                "IncludeMasks=*.*",
                                                "ExcludeMasks=",
                                                "UseProxy=0",
                                                "ProxyKind=0",
                                                "ProxyServer=",
                                                "ProxyPort=21"}));
    EXPECT_TRUE(project.FileName.isEmpty());
    EXPECT_FALSE(project.Modified) << "the proxy setters changed values, yet the project is fresh";
    EXPECT_FALSE(project.StopRequested());
}

TEST(ProjectSettings, LogProgressAndStopReachTheirTargetsWithoutMarkingModified) {
    TVellisyncProject project;
    project.Log("nobody listens"); // unassigned: nothing happens
    project.DoProgress();

    QStringList lines;
    project.SetOnLog([&](TVellisyncProject& sender, const QString& message) {
        EXPECT_EQ(&sender, &project);
        lines << message;
    });
    int progress = 0;
    project.OnProgress = [&](TVellisyncProject& sender) {
        EXPECT_EQ(&sender, &project);
        ++progress;
    };
    project.Log("one");
    project.Log("two");
    project.DoProgress();
    project.RequestStop();
    EXPECT_EQ(lines, QStringList({"one", "two"}));
    EXPECT_EQ(progress, 1);
    EXPECT_TRUE(project.StopRequested());

    project.SetOnLog({});
    project.Log("three");
    EXPECT_EQ(lines.size(), 2);
    EXPECT_FALSE(project.Modified);
}

TEST(ProjectSettings, ReviewTextOfAFreshProject) {
    TVellisyncProject project;
    EXPECT_EQ(project.GetReviewText(), "FTP server\r\n"
                                       "Host: \r\n"
                                       "Port: 0\r\n"
                                       "User name: \r\n"
                                       "Passive mode: No\r\n"
                                       "\r\n"
                                       "Remote folder: \r\n"
                                       "Local folder: \r\n"
                                       "Mode: Local -> Remote\r\n"
                                       "With subfolders: No\r\n"
                                       "Exact copy: No\r\n"
                                       "\r\n"
                                       "Include files: \r\n");
}

TEST(ProjectSettings, ReviewTextOfAFullProjectLeavesOutPasswordAndProxy) {
    TVellisyncProject project;
    project.SetDefaults();
    project.SetServer("ftp.local");
    project.SetPort(2121);
    project.SetUserName("mirror");
    project.SetPassword("secret-word");
    project.SetPassive(true);
    project.SetRemoteFolder("/pub");
    project.SetLocalFolder("/home/u/site %1");
    project.SetSyncMode(setting::SyncMode::RemoteToLocal);
    project.SetSubFilders(true);
    project.SetExact(true);
    project.SetIncludeMasks("*.html, *.css");
    project.SetExcludeMasks("*.bak");
    project.SetUseProxy(true);
    project.SetProxyServer("proxy-host");
    const QString text = project.GetReviewText();
    EXPECT_EQ(text, "FTP server\r\n"
                    "Host: ftp.local\r\n"
                    "Port: 2121\r\n"
                    "User name: mirror\r\n"
                    "Passive mode: Yes\r\n"
                    "Encryption: Explicit TLS when the server offers it\r\n"
                    "\r\n"
                    "Remote folder: /pub\r\n"
                    "Local folder: /home/u/site %1\r\n"
                    "Mode: Remote -> Local\r\n"
                    "With subfolders: Yes\r\n"
                    "Exact copy: Yes\r\n"
                    "\r\n"
                    "Include files: *.html, *.css\r\n"
                    "Exclude files: *.bak\r\n");
    EXPECT_FALSE(text.contains("secret-word"));
    EXPECT_FALSE(text.contains("proxy-host"));
}

TEST(ProjectSettings, ReviewTextShowsExactCopyOnlyForOneWayModes) {
    struct Case {
        quint8 mode;
        bool exact;
        const char* modeLine;
        bool hasExactLine;
    };
    const Case cases[] = {
        {0, true, "Mode: Local -> Remote\r\n", true},
        {1, false, "Mode: Remote -> Local\r\n", true},
        {2, true, "Mode: Bidirectional\r\n", false},
        {2, false, "Mode: Bidirectional\r\n", false},
        {3, false, "Mode: Unknown (3), nothing is transferred\r\n", true},
        {255, true, "Mode: Unknown (255), nothing is transferred\r\n", true},
    };
    for (const Case& c : cases) {
        TVellisyncProject project;
        project.SyncMode = setting::SyncMode(c.mode);
        project.Exact = c.exact;
        const QString text = project.GetReviewText();
        EXPECT_TRUE(text.contains(c.modeLine)) << int(c.mode);
        EXPECT_EQ(text.contains("Exact copy: "), c.hasExactLine) << int(c.mode);
    }
}

// The review of a project that leaves the connections alone is pinned above.
TEST(ProjectSettings, ReviewTextShowsConnectionsOnlyWhenChanged) {
    struct Case {
        qint32 connections;
        bool passive;
        const char* line; // after the passive mode line; nullptr for none
    };
    const Case cases[] = {
        {TVellisyncProject::DefaultConnections, true, nullptr},
        {7, true, "Simultaneous connections: 7\r\n"},
        {7, false, "Simultaneous connections: 7 (active mode uses one)\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connections);
        TVellisyncProject project;
        project.SetPassive(c.passive);
        project.SetConnections(c.connections);
        const QString text = project.GetReviewText();
        EXPECT_EQ(text.contains("Simultaneous connections"), c.line != nullptr) << text.toStdString();
        if (c.line) {
            EXPECT_TRUE(text.contains(QStringLiteral("Passive mode: %1\r\n").arg(c.passive ? "Yes" : "No") + c.line))
                << text.toStdString();
        }
    }
}

} // namespace
