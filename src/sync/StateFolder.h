#pragma once

#include <QString>

namespace engine {

// The folder that holds what Vellisync keeps between runs (run locks, sync
// states): $XDG_STATE_HOME/vellisync, or ~/.local/state/vellisync when that is
// not set or not absolute (Qt 6.4 knows no state location of its own).
QString stateFolder();

} // namespace engine
