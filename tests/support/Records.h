// Raw input records and the copies the worker receives, for tests.
#pragma once

#include "capture/RawInputCopy.h"
#include "support/HidReport.h"

// A copy as the window's thread hands it to the worker: one process-heap block.
RawInputCopy* CopyOf(const std::vector<BYTE>& record);
