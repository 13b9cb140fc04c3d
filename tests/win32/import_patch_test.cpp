// The import patching kvo-monitor and the tests do to a loaded plug-in: a
// module whose tables do not hold what they should is refused with what is
// wrong, never walked into its headers or past its end.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "ImportPatch.h"

namespace {

// A mapped image of one page that imports GetRawInputData from USER32.dll,
// by name when `nameTable`.
struct FakeImage {
    alignas(16) BYTE bytes[0x1000] = {};
    template <typename T>
    T* At(DWORD rva) { return reinterpret_cast<T*>(bytes + rva); }

    explicit FakeImage(bool nameTable) {
        At<IMAGE_DOS_HEADER>(0)->e_magic = IMAGE_DOS_SIGNATURE;
        At<IMAGE_DOS_HEADER>(0)->e_lfanew = 0x40;
        auto* nt = At<IMAGE_NT_HEADERS>(0x40);
        nt->Signature = IMAGE_NT_SIGNATURE;
        nt->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR_MAGIC;
        nt->OptionalHeader.SizeOfImage = sizeof bytes;
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT] = {0x400, 2 * sizeof(IMAGE_IMPORT_DESCRIPTOR)};
        auto* entry = At<IMAGE_IMPORT_DESCRIPTOR>(0x400);
        entry->Name = 0x600;
        entry->FirstThunk = 0x500;
        entry->OriginalFirstThunk = nameTable ? 0x540 : 0;
        std::strcpy(At<char>(0x600), "USER32.dll");
        At<IMAGE_THUNK_DATA>(0x540)->u1.AddressOfData = 0x700;
        At<IMAGE_THUNK_DATA>(0x500)->u1.Function = 0x1234;
        std::strcpy(At<char>(0x700 + offsetof(IMAGE_IMPORT_BY_NAME, Name)), "GetRawInputData");
    }
    HMODULE Module() { return reinterpret_cast<HMODULE>(bytes); }
};

TEST(ImportPatch, FindsTheSlotOfAFunctionImportedByName) {
    FakeImage image(true);
    std::string why = "unchanged";
    EXPECT_EQ(FindImportSlot(image.Module(), "user32.dll", "GetRawInputData", &why),
              reinterpret_cast<void**>(image.At<IMAGE_THUNK_DATA>(0x500)));
    EXPECT_EQ(FindImportSlot(image.Module(), "USER32.dll", "GetRawInputDat", &why), nullptr);
    EXPECT_EQ(why, "");  // simply not imported
}

TEST(ImportPatch, AModuleThatCannotBePatchedSaysWhy) {
    FakeImage unnamed(false);
    std::string why;
    EXPECT_EQ(FindImportSlot(unnamed.Module(), "USER32.dll", "GetRawInputData", &why), nullptr);
    EXPECT_EQ(why, "its imports from USER32.dll have no name table");

    FakeImage outside(true);
    outside.At<IMAGE_THUNK_DATA>(0x540)->u1.AddressOfData = 0x1000 - 2;  // the name runs off the image
    EXPECT_EQ(FindImportSlot(outside.Module(), "USER32.dll", "GetRawInputData", &why), nullptr);
    EXPECT_EQ(why, "its import table is damaged");

    FakeImage notModule(true);
    notModule.At<IMAGE_DOS_HEADER>(0)->e_magic = 0;
    EXPECT_EQ(FindImportSlot(notModule.Module(), "USER32.dll", "GetRawInputData", &why), nullptr);
    EXPECT_EQ(why, "it is not a Windows module of this program's kind");
}

}  // namespace
