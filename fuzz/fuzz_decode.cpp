// Fuzzes the road of one raw input message: the copy taken on the window's
// thread and the decoding on the worker, with any record bytes and any sizes
// the platform might report.
//
// Input: one control byte, then the record as GetRawInputData would serve it.
//   bit 0: the fetch reports the size in the next 4 bytes instead of the truth
//   bit 1: the size query fails
// Every delivered name is checked against an independent reading of the record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/HandleRawInput.h"
#include "capture/RawInputCopy.h"
#include "plugin/Exports.h"
#include "stub_control.h"

namespace {

std::vector<std::string> g_delivered;

int WINAPI Trigger(char* text, void* data, int flags, int deviceNumber) {
    if (!text || data || flags != 0 || deviceNumber != 80) {
        std::fprintf(stderr, "bad trigger arguments\n");
        std::abort();
    }
    g_delivered.push_back(text);
    return 0;
}

void BindHost() {
    HostFunctions functions = {};
    functions.size = kHostFunctionsSize;
    functions.eventTrigger = Trigger;
    gir_open(0, 0, 0, &functions);
}

uint32_t Read32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

// What the record should be called, read plainly and apart from the product.
// The plug-in and kvo-monitor share one naming rule (capture/EventName.cpp);
// this reading is kept apart from it on purpose, as the oracle that rule is
// checked against: calling the rule here would agree with any fault in it.
bool ExpectedName(const uint8_t* record, size_t size, std::string* name) {
    if (size < 24 || Read32(record) != RIM_TYPEHID) return false;
    uint64_t sizeHid = Read32(record + 16), count = Read32(record + 20);
    if (sizeHid * count > size - 24 || sizeHid <= 1) return false;
    static const char kHex[] = "0123456789ABCDEF";
    std::string digits;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* report = record + 24 + i * sizeHid;
        bool blank = true;
        for (uint64_t j = 1; j < sizeHid; ++j) blank = blank && report[j] == 0;
        if (blank) continue;
        for (uint64_t j = 0; j < sizeHid; ++j) {
            digits += kHex[report[j] >> 4];
            digits += kHex[report[j] & 15];
        }
    }
    if (digits.empty()) return false;
    *name = digits.size() <= 13 ? std::string("KVO0000000000").substr(0, 13 - digits.size()) + digits
                                : digits;
    return true;
}

void Fail(const char* what, const std::string& name) {
    std::fprintf(stderr, "%s: '%s'\n", what, name.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool bound = (BindHost(), true);
    (void)bound;
    if (size < 1) return 0;
    uint8_t control = data[0];
    ++data;
    --size;
    bool misreported = (control & 1) && size >= 4;
    uint32_t reported = misreported ? Read32(data) : 0;
    if (misreported) {
        data += 4;
        size -= 4;
    }

    stub::Reset();
    g_delivered.clear();
    HRAWINPUT handle = stub::MakeCurrentRawInput(data, size);
    if (control & 2) stub::FailNext(stub::Api::GetRawInputDataSize);
    if (misreported) stub::ShortenNextFetch(reported);

    RawInputCopy* copy = ReadRawInput(handle);
    if (copy) HandleRawInputCopy(copy);

    if (stub::LiveHeapBlocks() != 0 || stub::LiveStrings() != 0) Fail("leak", "");
    bool readWhole = !(control & 2) && (!misreported || reported == size) && size >= 24;
    std::string expected;
    bool expectName = readWhole && ExpectedName(data, size, &expected);
    if (g_delivered.size() > 1) Fail("more than one event", g_delivered[1]);
    if (!expectName) {
        if (!g_delivered.empty()) Fail("unexpected event", g_delivered[0]);
        return 0;
    }
    if (g_delivered.empty()) Fail("missing event", expected);
    const std::string& name = g_delivered[0];
    for (char c : name)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) Fail("bad character", name);
    if (name != expected) Fail(("expected " + expected + ", got").c_str(), name);
    return 0;
}
