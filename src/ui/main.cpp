// Program start-up: the application, the wizard window, the globals, the loop.
#include <cstdio>
#include <cstring>
#include <optional>

#include <QApplication>
#include <QIcon>

#include "model/Global.h"
#include "project/CurrentProject.h"
#include "ui/AppIcon.h"
#include "ui/VellisyncMain.h"
#include "ui/UiPrompts.h"

namespace {

const char* const HelpText = "Usage: vellisync [QT OPTIONS]\n"
                             "\n"
                             "Starts the Vellisync wizard. To run stored projects from a terminal or a\n"
                             "scheduler, see vellisync-cli --help.\n"
                             "\n"
                             "  -h, --help     Show this help.\n"
                             "  --version      Show the version.\n";

// --version and --help are answered before the application is made, since a
// QApplication needs a display and these must work without one (over ssh, in
// a packaging script). Returns the exit status when one of them was given.
std::optional<int> answerInformationOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vellisync %s\n", VELLISYNC_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(HelpText, stdout);
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = answerInformationOption(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellisync"));
    QApplication::setApplicationVersion(QStringLiteral(VELLISYNC_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("vellisync"));
    QApplication::setWindowIcon(applicationIcon());

    TVellisyncMain window;
    InitializeGlobals();
    installStoreMessageBox();
    window.show();
    return QApplication::exec();
}
