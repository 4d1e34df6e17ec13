#include "sync/StateFolder.h"

#include <QDir>

namespace engine {

QString stateFolder() {
    // XDG base directories: a relative path in the variable is to be ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base) + QStringLiteral("/vellisync");
}

} // namespace engine
