#include "support/Records.h"

#include <cstring>

RawInputCopy* CopyOf(const std::vector<BYTE>& record) {
    auto* copy = static_cast<RawInputCopy*>(
        HeapAlloc(GetProcessHeap(), 0, offsetof(RawInputCopy, record) + record.size()));
    copy->size = static_cast<UINT>(record.size());
    std::memcpy(&copy->record, record.data(), record.size());
    return copy;
}
