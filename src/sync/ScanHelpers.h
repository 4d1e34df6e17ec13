#pragma once

// What the local and the remote scan share.

#include <QString>

#include "sync/Masks.h"

namespace engine {

inline QString joinRelative(const QString& relativePath, const QString& name) {
    if (relativePath.isEmpty())
        return name;
    // One allocation: every name of both trees passes here.
    QString joined;
    joined.reserve(relativePath.size() + 1 + name.size());
    joined.append(relativePath).append(QLatin1Char('/')).append(name);
    return joined;
}

} // namespace engine
