// A raw input record copied out of the platform's hands.
//
// A raw input handle can be read only by the thread that received WM_INPUT,
// and only until that thread takes its next message.  The record is read
// whole, checked, into memory of our own before it is decoded.
#pragma once

#include <windows.h>

#include <cstddef>

struct RawInputCopy {
    UINT size;        // bytes of `record`, as fetched
    RAWINPUT record;  // the first bytes of the record; the rest follow
};

// Smallest record worth keeping: a header and the two counts of a HID record.
const UINT kMinimumRawInputSize = offsetof(RAWINPUT, data.hid.bRawData);

// Fetches the record behind `rawInput` into one process-heap block.  Null
// when the record cannot be read whole; nothing is left allocated then.
RawInputCopy* ReadRawInput(HRAWINPUT rawInput);

void FreeRawInputCopy(RawInputCopy* copy);
