#pragma once

// What the local and the remote scan share.

#include <QString>

#include "sync/Masks.h"

namespace engine {

// The mask lists live for one scan only, also when an error ends it.
class ScanMasks {
public:
    ScanMasks(MaskList& include, MaskList& exclude, const QString& includeText, const QString& excludeText)
        : m_include(include), m_exclude(exclude) {
        m_include = ParseMaskList(includeText);
        m_exclude = ParseMaskList(excludeText);
    }
    ~ScanMasks() {
        m_include.clear();
        m_exclude.clear();
    }
    ScanMasks(const ScanMasks&) = delete;
    ScanMasks& operator=(const ScanMasks&) = delete;

private:
    MaskList& m_include;
    MaskList& m_exclude;
};

inline QString joinRelative(const QString& relativePath, const QString& name) {
    return relativePath.isEmpty() ? name : relativePath + QLatin1Char('/') + name;
}

} // namespace engine
