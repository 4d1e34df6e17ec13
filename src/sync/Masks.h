#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// File masks: lists, matching and the include/exclude decision of the scans.

using MaskList = QStringList;

// Splits a mask text into masks: blanks/control characters separate masks, as
// do commas; a mask in double quotes may hold blanks and commas ("" stands for
// one quote); a trailing comma or two commas in a row give an empty mask.
MaskList ParseMaskList(const QString& text);

// Whether name matches mask (both reduced to their last path component, "."
// appended to one without an extension; * ? [set] [!set] wildcards, letters
// A-Z case-insensitive). Throws VellisyncError
// "'%s' is an invalid mask at (%d)" for an invalid mask.
bool MatchesFileMask(const QString& mask, const QString& name);

// Throws the error above for the first mask of the list that matching would
// refuse; does nothing when every mask is valid (an empty one matches nothing).
void CheckMaskList(const MaskList& masks);

// True at the first mask of the list that matches; an empty list matches nothing.
bool MatchesMaskList(const MaskList& masks, const QString& name);

// True when name matches at least one include mask and no exclude mask.
bool IsFileIncluded(const QString& name, const MaskList& includeMasks, const MaskList& excludeMasks);

// IsFileIncluded for the many names of a scan: each mask is compiled once. An
// invalid mask throws where matching would reach it, exactly as above.
class FileFilter {
public:
    FileFilter(); // includes nothing
    FileFilter(const MaskList& includeMasks, const MaskList& excludeMasks);

    bool includes(const QString& name) const;

private:
    struct Compiled;
    std::shared_ptr<const Compiled> m_compiled;
};
