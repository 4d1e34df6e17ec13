#pragma once

#include <QIcon>

// The program's icon (the same drawing as the installed SVG), painted at the
// usual sizes so that no image plug-in is needed.
QIcon applicationIcon();
