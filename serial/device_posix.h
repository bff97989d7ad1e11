// The termios a POSIX device is given for the driver's line settings; false
// for settings the line cannot take (a rate without a termios code, a
// character size or stop-bit count the UART does not have).
#pragma once

#include <termios.h>

#include "serial/device.h"

namespace jyn::device {

bool ToTermios(const LineSettings& settings, termios& tio);

}  // namespace jyn::device
