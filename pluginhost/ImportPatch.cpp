#include "ImportPatch.h"

#include <cstring>

namespace {

// The module's image as the loader mapped it: every address its tables give
// is checked to lie inside before it is read.
struct Image {
    BYTE* base;
    DWORD size;
    template <typename T>
    T* At(DWORD rva, DWORD count = 1) const {
        bool inside = rva != 0 && rva < size && count <= (size - rva) / sizeof(T);
        return inside ? reinterpret_cast<T*>(base + rva) : nullptr;
    }
    // A string that ends inside the image.
    const char* String(DWORD rva) const {
        const char* text = At<char>(rva);
        return text && std::memchr(text, 0, size - rva) ? text : nullptr;
    }
};

void** Refuse(std::string* why, const std::string& text) {
    if (why) *why = text;
    return nullptr;
}

// The import directory, or null for a module that is not a Windows module
// of this program's kind.
const IMAGE_DATA_DIRECTORY* OpenImage(HMODULE module, Image* image) {
    image->base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image->base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return nullptr;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(image->base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
        return nullptr;
    image->size = nt->OptionalHeader.SizeOfImage;
    return &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
}

}  // namespace

void** FindImportSlot(HMODULE module, const char* dllName, const char* function, std::string* why) {
    Image image;
    const IMAGE_DATA_DIRECTORY* imports = OpenImage(module, &image);
    if (!imports) return Refuse(why, "it is not a Windows module of this program's kind");
    const std::string damaged = "its import table is damaged";
    for (DWORD rva = imports->VirtualAddress;; rva += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        auto* entry = image.At<IMAGE_IMPORT_DESCRIPTOR>(rva);
        if (!entry && imports->VirtualAddress) return Refuse(why, damaged);
        if (!entry || !entry->Name) break;
        const char* name = image.String(entry->Name);
        if (!name) return Refuse(why, damaged);
        if (lstrcmpiA(name, dllName) != 0) continue;
        // Without its name table a bound table holds only addresses, and
        // which slot is which function cannot be told.
        if (!entry->OriginalFirstThunk)
            return Refuse(why, std::string("its imports from ") + dllName + " have no name table");
        for (DWORD i = 0;; ++i) {
            DWORD offset = i * static_cast<DWORD>(sizeof(IMAGE_THUNK_DATA));
            auto* names = image.At<IMAGE_THUNK_DATA>(entry->OriginalFirstThunk + offset);
            auto* slots = image.At<IMAGE_THUNK_DATA>(entry->FirstThunk + offset);
            if (!names || !slots) return Refuse(why, damaged);
            if (!names->u1.AddressOfData) break;
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            DWORD byName = static_cast<DWORD>(names->u1.AddressOfData);
            const char* imported = image.String(byName + offsetof(IMAGE_IMPORT_BY_NAME, Name));
            if (!image.At<IMAGE_IMPORT_BY_NAME>(byName) || !imported) return Refuse(why, damaged);
            if (std::strcmp(imported, function) == 0) return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return Refuse(why, std::string());
}

void* PatchImportSlot(void** slot, void* replacement, std::string* why) {
    DWORD protection;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
        Refuse(why, "VirtualProtect failed: error " + std::to_string(GetLastError()));
        return nullptr;
    }
    void* previous = *slot;
    *slot = replacement;
    // The slot is written; a page left writable only weakens its guard.
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    return previous;
}
