#include "capture/RawInputCopy.h"

RawInputCopy* ReadRawInput(HRAWINPUT rawInput) {
    UINT size = 0;
    if (GetRawInputData(rawInput, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0)
        return nullptr;
    const UINT kCopyHeader = offsetof(RawInputCopy, record);
    if (size < kMinimumRawInputSize || size > 0xFFFFFFFFu - kCopyHeader) return nullptr;

    auto* copy = static_cast<RawInputCopy*>(HeapAlloc(GetProcessHeap(), 0, kCopyHeader + size));
    if (!copy) return nullptr;
    UINT capacity = size;
    if (GetRawInputData(rawInput, RID_INPUT, &copy->record, &capacity, sizeof(RAWINPUTHEADER)) !=
        size) {
        HeapFree(GetProcessHeap(), 0, copy);
        return nullptr;
    }
    copy->size = size;
    return copy;
}

void FreeRawInputCopy(RawInputCopy* copy) {
    if (copy) HeapFree(GetProcessHeap(), 0, copy);
}
