// Program start-up: the application, the wizard window, the globals, the loop.
#include <QApplication>
#include <QIcon>

#include "model/Global.h"
#include "project/CurrentProject.h"
#include "ui/AppIcon.h"
#include "ui/VellisyncMain.h"
#include "ui/UiPrompts.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellisync"));
    QApplication::setApplicationVersion(QStringLiteral("1.4"));
    QApplication::setDesktopFileName(QStringLiteral("vellisync"));
    QApplication::setWindowIcon(applicationIcon());

    TVellisyncMain window;
    InitializeGlobals();
    installStoreMessageBox();
    window.show();
    return QApplication::exec();
}
