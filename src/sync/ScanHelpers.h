#pragma once

// What the local and the remote scan share.

#include <QString>

#include "sync/Masks.h"

namespace engine {

inline QString joinRelative(const QString& relativePath, const QString& name) {
    return relativePath.isEmpty() ? name : relativePath + QLatin1Char('/') + name;
}

} // namespace engine
