#pragma once

#include <QtGlobal>

namespace engine {

// How precise a remote file's time is: listed to the minute, listed with a
// date only, or exact to the second (MDTM, MLSD).
enum class TimePrecision : quint8 { Minute, Day, Second };

} // namespace engine
