#include "capture/SharedCaptureState.h"

#ifdef _WIN32
// A section flagged shared in the image is mapped once for all processes.
#define KVO_SHARED_SECTION __attribute__((section(".SHARDAT"), shared))
#else
#define KVO_SHARED_SECTION
#endif

SharedCaptureState g_sharedCaptureState KVO_SHARED_SECTION = {0, 0, nullptr};
