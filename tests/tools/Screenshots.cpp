// Walks the wizard through its seven pages against a local test FTP server and
// saves a picture of each page: the pictures of the user guide.
//
//     vellisync_screenshots OUTPUT_FOLDER
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QRandomGenerator>
#include <QTest>

#include "project/Global.h"
#include "project/VellisyncProject.h"
#include "support/FtpTestServer.h"
#include "ui/AppIcon.h"
#include "ui/VellisyncMain.h"

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

void saveSampleProject(const QString& caption, const QString& server, const QString& remote) {
    TVellisyncProject project;
    project.SetDefaults();
    project.SetCaption(caption);
    project.SetServer(server);
    project.SetRemoteFolder(remote);
    project.SaveToFile(AddTrailingBackslash(ProjectsFolder) +
                       UniqueFileName(ProjectsFolder, QStringLiteral("%s.VSPJ")));
}

bool grabPage(TVellisyncMain& window, const QString& folder, int page) {
    QApplication::processEvents();
    const QString path = QStringLiteral("%1/page%2.png").arg(folder).arg(page);
    if (!window.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

void typeInto(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

} // namespace

int main(int argc, char** argv) {
    // A fixed scratch folder, so the pictures show a readable local path; the
    // sample projects live there too, never in the user's projects folder.
    QDir home(QDir::tempPath() + QStringLiteral("/vellisync-screenshots"));
    home.removeRecursively();
    QDir().mkpath(home.path());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellisync"));
    QApplication::setWindowIcon(applicationIcon());
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(output);

    const QString remoteRoot = home.filePath(QStringLiteral("remote"));
    const QString localRoot = home.filePath(QStringLiteral("Documents/site"));
    writeFile(remoteRoot + QStringLiteral("/www/index.html"), "<html></html>\n");
    writeFile(remoteRoot + QStringLiteral("/www/news.html"), "<html>news</html>\n");
    writeFile(localRoot + QStringLiteral("/about.html"), "<html>about</html>\n");
    writeFile(localRoot + QStringLiteral("/style.css"), "body {}\n");
    QDir().mkpath(remoteRoot + QStringLiteral("/www"));
    // The wizard's port range ends at 32767, below the system's ephemeral ports.
    std::unique_ptr<FtpTestServer> started;
    for (int attempt = 0; attempt < 20 && !started; ++attempt) {
        FtpTestServerOptions options;
        options.root = remoteRoot;
        const int port = 20000 + QRandomGenerator::global()->bounded(12000);
        options.extraArguments = {QStringLiteral("--port"), QString::number(port)};
        started = std::make_unique<FtpTestServer>(options);
        if (!started->start())
            started.reset();
    }
    if (!started) {
        std::fprintf(stderr, "the test FTP server did not start\n");
        return 1;
    }
    FtpTestServer& server = *started;

    TVellisyncMain window;
    InitializeGlobals();
    saveSampleProject(QStringLiteral("Home page"), QStringLiteral("ftp.example.com"), QStringLiteral("/www"));
    saveSampleProject(QStringLiteral("Photo archive"), QStringLiteral("files.example.org"), QStringLiteral("/photos"));
    saveSampleProject(QStringLiteral("Team documents"), QStringLiteral("ftp.example.net"), QStringLiteral("/docs"));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    window.rbOpenExisting->click();
    window.lvProjects->setCurrentRow(0);
    bool ok = grabPage(window, output, 0);
    window.rbNewProject->click();
    window.bNext->click();

    typeInto(window.eHost, server.host());
    window.udPort->setValue(server.port());
    window.cbAnonim->click();
    typeInto(window.eUserName, server.options().user);
    typeInto(window.ePassword, server.options().password);
    window.cbPassive->setChecked(true);
    ok = ok && grabPage(window, output, 1);
    window.bNext->click();

    ok = ok && grabPage(window, output, 2);
    window.bNext->click();

    typeInto(window.eRemote, QStringLiteral("/www"));
    typeInto(window.eLocal, localRoot);
    window.findChild<QRadioButton*>(QStringLiteral("rgModeItem2"))->click();
    window.cbSubfolders->setChecked(true);
    ok = ok && grabPage(window, output, 3);
    window.bNext->click();

    typeInto(window.eExcludeMasks, QStringLiteral("*.bak, *.tmp"));
    ok = ok && grabPage(window, output, 4);
    window.bNext->click();

    ok = ok && grabPage(window, output, 5);
    window.bNext->click();
    if (!QTest::qWaitFor([&] { return !window.runActive(); }, 120'000))
        return 1;
    ok = ok && grabPage(window, output, 6);
    return ok ? 0 : 1;
}
