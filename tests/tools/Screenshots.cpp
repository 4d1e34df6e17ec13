// Walks the wizard through its seven pages against a local test FTP server and
// saves a picture of each page: the pictures of the user guide.
//
//     vellisync_screenshots OUTPUT_FOLDER
#include <cstdio>
#include <cstdlib>
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
#include <QTableWidget>
#include <QRandomGenerator>
#include <QTest>

#include "sync/RunProgress.h"
#include "model/Global.h"
#include "project/CurrentProject.h"
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

template <typename T> T* control(TVellisyncMain& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found) {
        std::fprintf(stderr, "no control %s\n", name);
        std::exit(1);
    }
    return found;
}

bool grabPage(TVellisyncMain& window, const QString& folder, const QString& name) {
    QApplication::processEvents();
    const QString path = QStringLiteral("%1/%2.png").arg(folder, name);
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
    qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
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
    for (const char* name : {"photo-1.jpg", "photo-2.jpg", "photo-3.jpg", "report.pdf"})
        writeFile(localRoot + QLatin1Char('/') + QLatin1String(name), QByteArray(300'000, 'x'));
    QDir().mkpath(remoteRoot + QStringLiteral("/www"));
    // The wizard's port range ends at 32767, below the system's ephemeral ports.
    std::unique_ptr<FtpTestServer> started;
    for (int attempt = 0; attempt < 20 && !started; ++attempt) {
        FtpTestServerOptions options;
        options.root = remoteRoot;
        const int port = 20000 + QRandomGenerator::global()->bounded(12000);
        options.extraArguments = {QStringLiteral("--port"), QString::number(port)};
        options.delays = {QStringLiteral("RNTO:3")};
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

    control<QRadioButton>(window, "rbOpenExisting")->click();
    control<QListWidget>(window, "lvProjects")->setCurrentRow(0);
    bool ok = grabPage(window, output, QStringLiteral("page0"));
    control<QRadioButton>(window, "rbNewProject")->click();
    auto* next = control<QPushButton>(window, "bNext");
    next->click();

    typeInto(control<QLineEdit>(window, "eHost"), server.host());
    control<QSpinBox>(window, "udPort")->setValue(server.port());
    control<QCheckBox>(window, "cbAnonim")->click();
    typeInto(control<QLineEdit>(window, "eUserName"), server.options().user);
    typeInto(control<QLineEdit>(window, "ePassword"), server.options().password);
    control<QCheckBox>(window, "cbPassive")->setChecked(true);
    ok = ok && grabPage(window, output, QStringLiteral("page1"));
    next->click();

    ok = ok && grabPage(window, output, QStringLiteral("page2"));
    next->click();

    typeInto(control<QLineEdit>(window, "eRemote"), QStringLiteral("/www"));
    typeInto(control<QLineEdit>(window, "eLocal"), localRoot);
    control<QRadioButton>(window, "rgModeItem2")->click();
    control<QCheckBox>(window, "cbSubfolders")->setChecked(true);
    ok = ok && grabPage(window, output, QStringLiteral("page3"));
    next->click();

    typeInto(control<QLineEdit>(window, "eExcludeMasks"), QStringLiteral("*.bak, *.tmp"));
    ok = ok && grabPage(window, output, QStringLiteral("page4"));
    next->click();

    ok = ok && grabPage(window, output, QStringLiteral("page5"));
    // The preview of an exact copy, whose deletions are marked; then back to
    // the project as described.
    auto* back = control<QPushButton>(window, "bBack");
    back->click();
    back->click();
    control<QRadioButton>(window, "rgModeItem0")->click();
    control<QCheckBox>(window, "cbExact")->setChecked(true);
    next->click();
    next->click();
    control<QPushButton>(window, "bPreview")->click();
    auto* previewButton = control<QPushButton>(window, "bPreview");
    ok = ok && QTest::qWaitFor([previewButton] { return previewButton->isEnabled(); }, 60'000);
    // The deletions come after the transfers.
    control<QTableWidget>(window, "tvPreview")->scrollToBottom();
    ok = ok && grabPage(window, output, QStringLiteral("page5-preview"));
    back->click();
    back->click();
    control<QCheckBox>(window, "cbExact")->setChecked(false);
    control<QRadioButton>(window, "rgModeItem2")->click();
    next->click();
    next->click();
    next->click();
    // The server answers the first rename of an upload late: the picture shows the bar on
    // its way and that file in hand.
    const bool midRun = QTest::qWaitFor(
        [] {
            const engine::ProgressSnapshot progress = CurrentProject->Progress().snapshot();
            return progress.filesDone > 0 && !progress.inHand.isEmpty();
        },
        60'000);
    QTest::qWait(500); // the page's next look at the counts
    ok = ok && midRun && grabPage(window, output, QStringLiteral("page6-running"));
    if (!QTest::qWaitFor([&] { return !window.runActive(); }, 120'000))
        return 1;
    ok = ok && grabPage(window, output, QStringLiteral("page6"));
    return ok ? 0 : 1;
}
