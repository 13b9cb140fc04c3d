// The identity exports: what the host reads about the plug-in, and that no
// byte is written outside the buffer it names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/Exports.h"

namespace {

const char kMarker = '\x5A';

// Calls a text export on a marker-filled buffer larger than `size`, so that
// writes past the size and missing zero padding both show.
std::string CallText(GirTextProc proc, BYTE size, char** returned = nullptr) {
    std::vector<char> buffer(size + 16, kMarker);
    char* result = proc(buffer.data(), size);
    if (returned) *returned = result == buffer.data() ? result : nullptr;
    return std::string(buffer.begin(), buffer.end());
}

std::string Expect(const std::string& written, BYTE size) {
    return written + std::string(size + 16 - written.size(), kMarker);
}

TEST(IdentityExports, ShortTextIsZeroPaddedToTheSize) {
    char* returned = nullptr;
    EXPECT_EQ(CallText(gir_version, 10, &returned), Expect(std::string("1.0\0\0\0\0\0\0\0", 10), 10));
    EXPECT_NE(returned, nullptr) << "returns the buffer it was given";
    EXPECT_EQ(CallText(gir_name, 20), Expect(std::string("KVORemote") + std::string(11, '\0'), 20));
    EXPECT_EQ(CallText(gir_description, 33),
              Expect(std::string("KVO Remote Controller by Quorlen") + '\0', 33));
}

TEST(IdentityExports, LongTextIsCutWithoutTerminator) {
    EXPECT_EQ(CallText(gir_name, 4), Expect("KVOR", 4));
    EXPECT_EQ(CallText(gir_name, 9), Expect("KVORemote", 9));
    EXPECT_EQ(CallText(gir_version, 3), Expect("1.0", 3));
    EXPECT_EQ(CallText(gir_description, 32), Expect("KVO Remote Controller by Quorlen", 32));
}

TEST(IdentityExports, ZeroSizeWritesNothing) {
    char* returned = nullptr;
    EXPECT_EQ(CallText(gir_description, 0, &returned), Expect("", 0));
    EXPECT_NE(returned, nullptr);
    EXPECT_EQ(CallText(gir_version, 0), Expect("", 0));
}

TEST(IdentityExports, LargestSizeFillsAllOfIt) {
    std::string written = CallText(gir_description, 255);
    EXPECT_EQ(written, Expect(std::string("KVO Remote Controller by Quorlen") +
                                  std::string(255 - 32, '\0'),
                              255));
}

TEST(IdentityExports, NullBufferIsLeftAloneAndGivesNull) {
    EXPECT_EQ(gir_version(nullptr, 10), nullptr);
    EXPECT_EQ(gir_name(nullptr, 10), nullptr);
    EXPECT_EQ(gir_description(nullptr, 10), nullptr);
}

TEST(IdentityExports, NumbersAreFixed) {
    EXPECT_EQ(gir_devicenum(), 80);
    for (int api : {0, 1, 2, -1, 0x7FFFFFFF}) EXPECT_EQ(gir_requested_api(api), 1) << api;
}

}  // namespace
