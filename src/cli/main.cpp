// vellisync-cli: runs stored Vellisync projects from a terminal, a scheduled
// job or a CI pipeline.
#include <QCoreApplication>

#include "cli/CommandLine.h"
#include "model/Global.h"
#include "project/CurrentProject.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vellisync-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLISYNC_VERSION));
    InitializeGlobals();
    return cli::runCommandLine(QCoreApplication::arguments().mid(1));
}
