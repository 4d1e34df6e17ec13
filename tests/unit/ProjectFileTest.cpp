#include "model/ProjectFile.h"

#include <gtest/gtest.h>

#include "support/ProjectValues.h"
#include "support/QtPrinters.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>
#include <ostream>

#include "model/Errors.h"
#include "model/UserMessage.h"
#include "project/VellisyncProject.h"

#include <sys/stat.h>

namespace {

const QByteArray nightlyMirrorFile = "[Root]\r\n"
                                     "Caption=STRING|\"Nightly mirror\"\r\n"
                                     "Exact=INTEGER|0\r\n"
                                     "ExcludeMasks=STRING|\"\"\r\n"
                                     "IncludeMasks=STRING|\"*.*\"\r\n"
                                     "LocalFolder=STRING|\"D:\\Site\"\r\n"
                                     "Passive=INTEGER|1\r\n"
                                     "Password=STRING|\"...\"\r\n"
                                     "Port=INTEGER|21\r\n"
                                     "ProxyKind=INTEGER|0\r\n"
                                     "ProxyPort=INTEGER|21\r\n"
                                     "ProxyServer=STRING|\"\"\r\n"
                                     "RemoteFolder=STRING|\"/public\"\r\n"
                                     "Server=STRING|\"ftpserver\"\r\n"
                                     "SubFilders=INTEGER|1\r\n"
                                     "SyncMode=INTEGER|1\r\n"
                                     "UseProxy=INTEGER|0\r\n"
                                     "UserName=STRING|\"anonymous\"\r\n"
                                     "\r\n";

void fillNightlyMirror(TVellisyncProject& project) {
    project.SetDefaults();
    project.SetCaption("Nightly mirror");
    project.SetServer("ftpserver");
    project.SetPassword("me@example.org");
    project.SetPassive(true);
    project.SetRemoteFolder("/public");
    project.SetLocalFolder("D:\\Site");
    project.SetSyncMode(setting::SyncMode::RemoteToLocal);
    project.SetSubFilders(true);
}

class ProjectFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_temp.isValid()); }
    QString path(const QString& name) const { return m_temp.filePath(name); }

    QTemporaryDir m_temp;
};

// The example file predates TLS: a project that keeps encryption off writes
// it byte for byte, and a new project (explicit TLS when offered) writes it
// with exactly one line more.
TEST_F(ProjectFileTest, SaveWritesTheExampleFileAndLoadReadsItBack) {
    QByteArray newProjectFile = nightlyMirrorFile;
    newProjectFile.replace("Exact=", "Encryption=INTEGER|1\r\nExact=");
    for (const bool encryptionOff : {true, false}) {
        SCOPED_TRACE(encryptionOff);
        TVellisyncProject project;
        fillNightlyMirror(project);
        if (encryptionOff)
            project.SetEncryption(TVellisyncProject::DefaultEncryption);
        ASSERT_TRUE(project.SaveToFile(path("7K0QZ3AB.VSPJ")));
        const QByteArray saved = readFile(path("7K0QZ3AB.VSPJ"));

        static const QRegularExpression passwordLine(QStringLiteral("Password=STRING\\|\"(\\d+)\"\r\n"));
        const QRegularExpressionMatch match = passwordLine.match(QString::fromUtf8(saved));
        ASSERT_TRUE(match.hasMatch()) << saved.toStdString();
        EXPECT_EQ(match.captured(1).size(), 40) << "14 bytes cover 16";
        QByteArray withoutDigits = saved;
        withoutDigits.replace(match.captured(1).toUtf8(), "...");
        EXPECT_EQ(withoutDigits, encryptionOff ? nightlyMirrorFile : newProjectFile);

        TVellisyncProject loaded;
        ASSERT_TRUE(loaded.LoadFromFile(path("7K0QZ3AB.VSPJ")));
        EXPECT_EQ(settingsOf(loaded), settingsOf(project));
        EXPECT_EQ(loaded.Encryption, project.Encryption);
    }
}

// The example file above is what a project at the default writes, byte for byte.
TEST_F(ProjectFileTest, ConnectionsAreWrittenOnlyWhenNotTheDefaultAndReadBack) {
    for (const qint32 connections : {TVellisyncProject::DefaultConnections, 7}) {
        SCOPED_TRACE(connections);
        TVellisyncProject project;
        fillNightlyMirror(project);
        project.SetConnections(connections);
        ASSERT_TRUE(project.SaveToFile(path("p.VSPJ")));
        const QByteArray saved = readFile(path("p.VSPJ"));
        const bool isDefault = connections == TVellisyncProject::DefaultConnections;
        EXPECT_EQ(saved.contains("Connections="), !isDefault) << saved.toStdString();
        EXPECT_EQ(saved.contains("\r\nConnections=INTEGER|7\r\n"), !isDefault) << saved.toStdString();

        TVellisyncProject loaded;
        loaded.SetConnections(9);
        ASSERT_TRUE(loaded.LoadFromFile(path("p.VSPJ")));
        EXPECT_EQ(loaded.Connections, connections);
    }
}

TEST_F(ProjectFileTest, ListingZoneIsWrittenOnlyWhenSetAndReadBack) {
    for (const QString& zone : {QString(), QStringLiteral("-05:30")}) {
        TVellisyncProject project;
        fillNightlyMirror(project);
        project.SetListingTimeZone(zone);
        ASSERT_TRUE(project.SaveToFile(path("z.VSPJ")));
        const QByteArray saved = readFile(path("z.VSPJ"));
        EXPECT_EQ(saved.contains("ListingTimeZone="), !zone.isEmpty()) << saved.toStdString();

        TVellisyncProject loaded;
        loaded.SetListingTimeZone(QStringLiteral("+01:00"));
        ASSERT_TRUE(loaded.LoadFromFile(path("z.VSPJ")));
        EXPECT_EQ(loaded.ListingTimeZone, zone);
    }
}

// A project whose password lives in the keyring takes none from its file,
// even one a hand put there; the keys come back as written.
TEST_F(ProjectFileTest, KeyringProjectTakesNoPasswordFromItsFile) {
    for (const char* store : {"Keyring", "keyring"}) {
        writeFile(path("k.VSPJ"), QByteArray("[Root]\r\nServer=STRING|\"ftp.local\"\r\nPassword=STRING|\"") +
                                      ScramblePassword(QStringLiteral("stale")).toLatin1() +
                                      "\"\r\nPasswordStore=STRING|\"" + store +
                                      "\"\r\nKeyringEntry=STRING|\"0f1e\"\r\n");
        TVellisyncProject loaded;
        ASSERT_TRUE(loaded.LoadFromFile(path("k.VSPJ")));
        EXPECT_TRUE(loaded.passwordInKeyring()) << store;
        EXPECT_EQ(loaded.Password, QString());
        EXPECT_EQ(loaded.KeyringEntry, QStringLiteral("0f1e"));
    }
}

TEST_F(ProjectFileTest, TlsSettingsAreWrittenOnlyWhenSetAndReadBack) {
    const QString fingerprint = QStringLiteral("00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF");
    for (const bool set : {false, true}) {
        SCOPED_TRACE(set);
        TVellisyncProject project;
        fillNightlyMirror(project);
        project.SetEncryption(set ? setting::Encryption::Implicit : setting::Encryption::None);
        ASSERT_TRUE(project.SetTrustedCertificate(set ? fingerprint : QString()));
        ASSERT_TRUE(project.SaveToFile(path("p.VSPJ")));
        const QByteArray saved = readFile(path("p.VSPJ"));
        EXPECT_EQ(saved.contains("Encryption="), set) << saved.toStdString();
        EXPECT_EQ(saved.contains("TrustedCertificate="), set) << saved.toStdString();

        TVellisyncProject loaded;
        ASSERT_TRUE(loaded.LoadFromFile(path("p.VSPJ")));
        EXPECT_EQ(loaded.Encryption, project.Encryption);
        EXPECT_EQ(loaded.TrustedCertificate,
                  set ? QStringLiteral("00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:"
                                       "AA:BB:CC:DD:EE:FF")
                      : QString());
    }
}

struct PasswordCase {
    int bytes;
    int digits;
};

void PrintTo(const PasswordCase& c, std::ostream* out) {
    *out << c.bytes << " bytes";
}

class PasswordRoundTripTest : public ::testing::TestWithParam<PasswordCase> {};

TEST_P(PasswordRoundTripTest, EverySettingComesBackAndThePasswordHasItsDigitCount) {
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    QString password;
    for (int i = 0; i < GetParam().bytes; ++i) {
        password += QChar(u'!' + (i * 7) % 90);
    }
    const QString expectedPassword = password.left(255);

    TVellisyncProject project;
    project.SetCaption("Every setting");
    project.SetServer("ftp.local");
    project.SetPort(2121);
    project.SetUserName("mirror user");
    project.SetPassword(password);
    project.SetPassive(true);
    project.SetRemoteFolder("/a \"quoted\" | folder");
    project.SetLocalFolder("/home/u/Site=1");
    project.SetSyncMode(setting::SyncMode::LocalToRemote);
    project.SetSubFilders(true);
    project.SetExact(true);
    project.SetIncludeMasks("*.html, \"a b.txt\"");
    project.SetExcludeMasks("*.bak;*.tmp");
    project.SetUseProxy(true);
    project.SetProxyKind(setting::ProxyKind::Socks);
    project.SetProxyServer("socks.local");
    project.SetProxyPort(1080);
    project.SetConnections(9);
    project.SetListingTimeZone("+01:00");
    project.SetEncryption(setting::Encryption::ExplicitRequired);
    ASSERT_TRUE(project.SetTrustedCertificate(QString(64, u'a')));
    project.FileName = "/elsewhere/kept.VSPJ";
    const QString file = temp.filePath("p.VSPJ");
    ASSERT_TRUE(project.SaveToFile(file));
    EXPECT_FALSE(project.Modified);
    EXPECT_EQ(project.FileName, "/elsewhere/kept.VSPJ") << "SaveToFile leaves FileName alone";

    TVellisyncProject loaded;
    loaded.SetDefaults();
    loaded.Modified = true;
    ASSERT_TRUE(loaded.LoadFromFile(file));
    EXPECT_FALSE(loaded.Modified);
    EXPECT_EQ(loaded.FileName, file);
    QStringList expected = settingsOf(project);
    expected[4] = "Password=" + expectedPassword;
    EXPECT_EQ(settingsOf(loaded), expected);
    // The whole value, so a setting that the file leaves out cannot pass unseen.
    ProjectSettings expectedValue = project;
    expectedValue.Password = expectedPassword;
    EXPECT_TRUE(static_cast<const ProjectSettings&>(loaded) == expectedValue);

    const QString scrambled = ScramblePassword(password);
    EXPECT_EQ(scrambled.size(), GetParam().digits);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d*$")).match(scrambled).hasMatch());
    EXPECT_EQ(UnscramblePassword(scrambled), expectedPassword);
}

INSTANTIATE_TEST_SUITE_P(Lengths, PasswordRoundTripTest,
                         ::testing::Values(PasswordCase{0, 25}, PasswordCase{1, 25}, PasswordCase{8, 25},
                                           PasswordCase{9, 25}, PasswordCase{10, 30}, PasswordCase{11, 30},
                                           PasswordCase{255, 640}, PasswordCase{300, 640}),
                         [](const auto& info) { return "Bytes" + std::to_string(info.param.bytes); });

TEST(PasswordScrambling, StoresUtf8BytesInOffsetGroupsAndCutsOnlyWholeCharacters) {
    // The first group is the length byte and the first password byte: 2 + 256 * 'a' + 9463.
    EXPECT_EQ(ScramblePassword("ab").left(5), "34297");
    for (int i = 0; i < 5; ++i) // the filler after the password is random; none of it may come back
        EXPECT_EQ(UnscramblePassword(ScramblePassword(QString())), "");
    const QString text = QStringLiteral("pässwörd ✓");
    EXPECT_EQ(UnscramblePassword(ScramblePassword(text)), text);
    // 254 bytes of 'a' and then a two-byte letter: the letter does not fit and is left out whole.
    const QString tooLong = QString(254, u'a') + QStringLiteral("é");
    EXPECT_EQ(UnscramblePassword(ScramblePassword(tooLong)), QString(254, u'a'));
}

TEST(PasswordScrambling, DamagedTextsStayInsideTheBuffer) {
    struct Case {
        const char* label;
        QString text;
        QString expected;
    };
    const auto group = [](int value) { return QStringLiteral("%1").arg(value + PasswordKey, 5, 10, QChar(u'0')); };
    const QString sixHundredAndFortyDigits = ScramblePassword(QString(255, u'z'));
    const Case cases[] = {
        {"empty text", "", QString(35, u' ')},
        {"excess groups are ignored", sixHundredAndFortyDigits + group('x' * 256 + 3) + group(0), QString(255, u'z')},
        // length 200: the groups and the initial blanks reach byte 35, nothing beyond
        {"length beyond the filled bytes", group(200 + 256 * 'x') + group('a' + 256 * 'b'), "xab" + QString(32, u' ')},
        {"length beyond, long text", group(255 + 256 * 'x') + sixHundredAndFortyDigits.mid(5, 5 * 49),
         "x" + QString(98, u'z')},
        {"length within the initial blanks", group(3 + 256 * 'q'), "q  "},
        {"a short last group", group(1 + 256 * 'k') + "9", "k"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UnscramblePassword(c.text), c.expected) << c.label;
    }
}

TEST(PasswordScrambling, ANonNumericGroupRaisesTheConversionError) {
    struct Case {
        QString text;
        const char* message;
    };
    const Case cases[] = {
        {"1234x12345", "'1234x' is not a valid integer value"},
        {"09463abc", "'abc' is not a valid integer value"},
        {ScramblePassword(QString(255, u'z')) + "12345-.-.-", "'-.-.-' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(errorOf([&] { UnscramblePassword(c.text); }), c.message);
    }
}

TEST_F(ProjectFileTest, AFileWithOnlyTheServerGivesEveryOtherDefault) {
    writeFile(path("p.VSPJ"), "[Root]\r\nServer=STRING|\"ftp.local\"\r\n");
    TVellisyncProject project;
    project.Modified = true;
    ASSERT_TRUE(project.LoadFromFile(path("p.VSPJ")));
    EXPECT_EQ(project.FileName, path("p.VSPJ"));
    EXPECT_EQ(settingsOf(project), QStringList({"Caption=<No Caption>",
                                                "Server=ftp.local",
                                                "Port=21",
                                                "UserName=anonymous",
                                                "Password=" + QString(35, u' '),
                                                "PasswordStore=",
                                                "KeyringEntry=",
                                                "Passive=0",
                                                "Encryption=0",
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
    EXPECT_FALSE(project.Modified);
}

TEST_F(ProjectFileTest, WhatIsNotAProjectFileIsRefusedAndChangesNothing) {
    TVellisyncProject saved;
    fillNightlyMirror(saved);
    ASSERT_TRUE(saved.SaveToFile(path("whole.VSPJ")));
    const QByteArray whole = readFile(path("whole.VSPJ"));
    const QByteArray small = "[Root]\r\nServer=STRING|\"ftp.local\"\r\n;";
    const qsizetype limit = 1024 * 1024;
    writeFile(path("empty.VSPJ"), "");
    static constexpr char garbage[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR[\xff]=";
    writeFile(path("garbage.VSPJ"), QByteArray(garbage, sizeof garbage - 1)); // NULs and all
    writeFile(path("other.VSPJ"), "[Options]\r\nServer=STRING|\"ftp.local\"\r\n");
    writeFile(path("cut.VSPJ"), whole.left(whole.indexOf("Server=") + 3));
    writeFile(path("limit.VSPJ"), small + QByteArray(limit - small.size() - 2, 'x') + "\r\n");
    writeFile(path("big.VSPJ"), small + QByteArray(limit - small.size() - 1, 'x') + "\r\n");
    QDir(m_temp.path()).mkdir("folder.VSPJ");
    ASSERT_TRUE(QFile::link("/dev/zero", path("zero.VSPJ")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.VSPJ")).constData(), 0600), 0);

    const auto notAProject = [&](const char* name, const char* reason) {
        return "\"" + path(name) + "\" is not a project file: " + reason;
    };
    const auto cannotOpen = [&](const char* name, const char* reason) {
        return "Cannot open file \"" + path(name) + "\". " + reason;
    };
    const std::pair<const char*, QString> cases[] = {
        {"empty.VSPJ", notAProject("empty.VSPJ", "it has no [Root] section")},
        {"garbage.VSPJ", notAProject("garbage.VSPJ", "it has no [Root] section")},
        {"other.VSPJ", notAProject("other.VSPJ", "it has no [Root] section")},
        {"cut.VSPJ", notAProject("cut.VSPJ", "its [Root] section has no Server (the file may be cut short)")},
        {"big.VSPJ", notAProject("big.VSPJ", "it is larger than 1 MiB")},
        {"limit.VSPJ", ""},
        {"folder.VSPJ", cannotOpen("folder.VSPJ", "It is not a regular file")},
        {"zero.VSPJ", cannotOpen("zero.VSPJ", "It is not a regular file")},
        {"fifo.VSPJ", cannotOpen("fifo.VSPJ", "It is not a regular file")},
        {"absent.VSPJ", cannotOpen("absent.VSPJ", "No such file or directory")},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        TVellisyncProject project;
        project.SetDefaults();
        project.SetCaption("Changed");
        EXPECT_EQ(errorOf([&] { project.LoadFromFile(path(name)); }), message);
        EXPECT_EQ(project.FileName, path(name));
        EXPECT_EQ(project.Server, message.isEmpty() ? "ftp.local" : "ftp.example.com");
        EXPECT_EQ(project.Modified, !message.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(path("absent.VSPJ")));
}

TEST_F(ProjectFileTest, StoredValuesAreTakenAsTheFileGivesThem) {
    writeFile(path("p.VSPJ"),
              "[root]\nserver=STRING|ftp.local\nport=INTEGER|990\nSyncMode=INTEGER|258\nPassive=INTEGER|5\n"
              "RemoteFolder=STRING|\"  /spaced  \"\nProxyServer=STRING|\"  proxy  \"\n"
              "Exact=INTEGER|-1\nEncryption=INTEGER|7\nProxyKind=INTEGER|-2\n");
    TVellisyncProject project;
    ASSERT_TRUE(project.LoadFromFile(path("p.VSPJ")));
    // Numbers that name no choice are kept, for the run to refuse, and are
    // saved as they came.
    EXPECT_EQ(qint32(project.Encryption), 7);
    EXPECT_EQ(qint32(project.ProxyKind), -2);
    ASSERT_TRUE(project.SaveToFile(path("p.VSPJ")));
    const QByteArray saved = readFile(path("p.VSPJ"));
    EXPECT_TRUE(saved.contains("\r\nEncryption=INTEGER|7\r\n")) << saved.toStdString();
    EXPECT_TRUE(saved.contains("\r\nProxyKind=INTEGER|-2\r\n")) << saved.toStdString();
    EXPECT_EQ(project.Port, 990);
    EXPECT_EQ(project.SyncMode, setting::SyncMode::Bidirectional);
    EXPECT_TRUE(project.Passive);
    EXPECT_TRUE(project.Exact);
    EXPECT_EQ(project.RemoteFolder, "  /spaced  ") << "taken without trimming";
    EXPECT_EQ(project.ProxyServer, "proxy") << "through its trimming setter";
}

TEST_F(ProjectFileTest, AnUnknownTypeTagFailsTheLoadAndChangesNothingButFileName) {
    QStringList shown;
    const UserMessageHandler previous = setUserMessageHandler([&](const QString& m) { shown << m; });
    writeFile(path("p.VSPJ"), "[Root]\nCaption=STRING|\"New\"\nPort=WORD|21\nServer=STRING|\"ftp.local\"\n");
    TVellisyncProject project;
    project.SetDefaults();
    project.SetCaption("Old");
    EXPECT_FALSE(project.LoadFromFile(path("p.VSPJ")));
    setUserMessageHandler(previous);
    EXPECT_EQ(shown, QStringList{"Unknown type 'WORD'"});
    EXPECT_EQ(project.Caption, "Old");
    EXPECT_TRUE(project.Modified);
    EXPECT_EQ(project.FileName, path("p.VSPJ"));
}

TEST_F(ProjectFileTest, StorageErrorsPropagateAndKeepWhatWasReadBefore) {
    struct Case {
        QByteArray text;
        const char* message;
        bool raisedWhileAssigning; // else raised while the file is read, before any assignment
    };
    const Case cases[] = {
        {"Port=STRING|\"21\"", "It's not an integer \"Port\"", true},
        {"Password=STRING|\"0946x\"", "'0946x' is not a valid integer value", true},
        {"Password=INTEGER|5", "It's not a string \"Password\"", true},
        {"Port=INTEGER|2l", "'2l' is not a valid integer value", false},
        {"Port=", "List index out of bounds (0)", false},
    };
    for (const Case& c : cases) {
        writeFile(path("p.VSPJ"), "[Root]\nCaption=STRING|\"Read first\"\nServer=STRING|x\n" + c.text + "\n");
        TVellisyncProject project;
        project.Modified = true;
        EXPECT_EQ(errorOf([&] { project.LoadFromFile(path("p.VSPJ")); }), c.message) << c.text.toStdString();
        EXPECT_EQ(project.Caption, c.raisedWhileAssigning ? "Read first" : "") << c.text.toStdString();
        EXPECT_TRUE(project.Modified);
        EXPECT_EQ(project.FileName, path("p.VSPJ"));
    }
}

TEST_F(ProjectFileTest, SaveCreatesMissingFoldersAndTheFilePrivately) {
    const QString folder = path("share/Orvanta/VellisyncProjects");
    const QString file = folder + "/A.VSPJ";
    TVellisyncProject project;
    project.SetDefaults();
    ASSERT_TRUE(project.SaveToFile(file));
    EXPECT_EQ(modeOf(path("share")), 0700u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(file), 0600u);
}

TEST_F(ProjectFileTest, FileErrorsPropagateAndLeaveModifiedAsItWas) {
    QDir(m_temp.path()).mkdir("folder.VSPJ");
    writeFile(path("plain"), "x");
    struct Case {
        QString file;
        bool save;
        QString messageStart;
    };
    const Case cases[] = {
        {path("folder.VSPJ"), false, "Cannot open file \"" + path("folder.VSPJ") + "\". "},
        {path("folder.VSPJ"), true, "Cannot open file \"" + path("folder.VSPJ") + "\". "},
        {path("plain/p.VSPJ"), true, "Cannot create file \"" + path("plain/p.VSPJ") + "\". "},
    };
    for (const Case& c : cases) {
        TVellisyncProject project;
        project.SetDefaults();
        project.SetCaption("Changed");
        const QString message = errorOf([&] { c.save ? project.SaveToFile(c.file) : project.LoadFromFile(c.file); });
        EXPECT_TRUE(message.startsWith(c.messageStart)) << message.toStdString();
        EXPECT_TRUE(project.Modified);
        EXPECT_EQ(project.Caption, "Changed");
    }
    EXPECT_TRUE(QFileInfo(path("plain")).isFile());
}

void fillEverySetting(TVellisyncProject& project) {
    project.SetDefaults();
    project.SetCaption(QStringLiteral("Caf\u00e9 \"Nord\" site"));
    project.SetServer(QStringLiteral("ftp.example.net"));
    project.SetPort(2121);
    project.SetUserName(QStringLiteral("mirror"));
    project.SetPassword(QStringLiteral("s3cret p\u00e4ss"));
    project.SetPassive(true);
    project.SetRemoteFolder(QStringLiteral("/www/site"));
    project.SetLocalFolder(QStringLiteral("/home/ann/site"));
    project.SetSyncMode(setting::SyncMode::LocalToRemote);
    project.SetSubFilders(true);
    project.SetExact(true);
    project.SetIncludeMasks(QStringLiteral("*.html;*.css"));
    project.SetExcludeMasks(QStringLiteral("*.tmp"));
    project.SetUseProxy(true);
    project.SetProxyKind(setting::ProxyKind(2));
    project.SetProxyServer(QStringLiteral("proxy.example.net"));
    project.SetProxyPort(1080);
    project.SetConnections(6);
    project.SetListingTimeZone(QStringLiteral("+02:00"));
    project.SetEncryption(setting::Encryption::Implicit);
    ASSERT_TRUE(project.SetTrustedCertificate(
        QStringLiteral("00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF")));
}

// Project files as this build writes them (tests/data/projects): a new
// project and one with every setting are written byte for byte as stored, and
// every stored file, an older one without the later keys among them, comes
// out of a load and a save unchanged. A password that is not empty scrambles
// the same way each time.
TEST_F(ProjectFileTest, SavedFilesMatchTheStoredOnesByteForByte) {
    struct Case {
        const char* file;
        std::function<void(TVellisyncProject&)> make; // none: the file is only loaded and saved again
    };
    const Case cases[] = {
        {"new-project.vspj", [](TVellisyncProject& p) { p.SetDefaults(); }},
        {"every-setting.vspj", fillEverySetting},
        {"older-version.vspj", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QByteArray stored = readFile(QStringLiteral(VELLISYNC_TEST_DATA_DIR "/projects/") + c.file);
        ASSERT_FALSE(stored.isEmpty());
        if (c.make) {
            TVellisyncProject made;
            ASSERT_NO_FATAL_FAILURE(c.make(made));
            ASSERT_TRUE(made.SaveToFile(path("made.vspj")));
            EXPECT_EQ(readFile(path("made.vspj")), stored);
        }
        writeFile(path("loaded.vspj"), stored);
        TVellisyncProject loaded;
        ASSERT_TRUE(loaded.LoadFromFile(path("loaded.vspj")));
        ASSERT_TRUE(loaded.SaveToFile(path("again.vspj")));
        EXPECT_EQ(readFile(path("again.vspj")), stored);
    }
}

} // namespace
