// The termios a POSIX device is given for the driver's line settings; false
// for settings the line cannot take (a rate without a termios code, a
// character size or stop-bit count the UART does not have).
#pragma once

#include <termios.h>

#include "serial/device.h"

namespace jyn::device {

bool ToTermios(const LineSettings& settings, termios& tio);

// What waiting for a write to go out needs of the device and the clock.
class SendQueue {
public:
    virtual ~SendQueue() = default;
    virtual int Queued() = 0;  // bytes still to send; negative: the device cannot say
    virtual uint64_t NowMicros() = 0;
    virtual void SleepMicros(uint64_t micros) = 0;
};

// Waits until the output queue is empty, as a write on the host's platform
// returns only once its bytes have gone out: the reply time-out must count
// from the end of the request, not from when it was queued. Sleeps about as
// long as the queued bytes take at `charMicros` each, in steps that start
// short (a queue that empties early is seen soon), and gives up at
// `deadlineMicros`. False only when the deadline passed with bytes queued.
bool WaitUntilSent(SendQueue& queue, uint64_t charMicros, uint64_t deadlineMicros);

}  // namespace jyn::device
