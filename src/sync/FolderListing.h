#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "inet/FtpService.h"

namespace engine {

// One folder's listing, as a connection of the pool read it.
struct FolderListing {
    QString relativePath; // "" for the remote root
    bool entered = false;
    bool listed = false;
    QString failureLine; // why it could not be entered or listed
    std::vector<inet::FindData> entries;
    QStringList unrecognisedLines;
};

// The folders one listing job listed, in the order it listed them.
using FolderListings = std::vector<std::shared_ptr<const FolderListing>>;

} // namespace engine
