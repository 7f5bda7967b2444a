// The library functions the show calls, found at start-up by the hash of their
// names instead of through the dynamic linker's tables: the program names its
// libraries, and the loader maps them and leaves a list of what it loaded;
// each name then costs four bytes instead of a symbol, a string and a relocation.
#pragma once

#include <elf.h>
#include <link.h>

#include <cstdint>

// clang-format off
#define SHOW_IMPORTS(X)                                                                              \
    X(SDL_Init) X(SDL_GetCurrentVideoDriver) X(SDL_GetError) X(SDL_CreateWindow)                     \
    X(SDL_GL_CreateContext) X(SDL_OpenAudio) X(SDL_ShowCursor) X(SDL_PollEvent) X(SDL_GetTicks)      \
    X(SDL_PauseAudio) X(SDL_GL_SwapWindow) X(SDL_DestroyWindow)                                      \
    X(glCreateShaderProgramv) X(glGetProgramiv) X(glGetProgramInfoLog) X(glUseProgram)               \
    X(glGetUniformLocation) X(glUniform1f) X(glRecti) X(glTexParameteri) X(glTexImage2D)             \
    X(opus_decoder_create) X(opus_decode)                                                            \
    X(spectre_document_new) X(spectre_document_load) X(spectre_document_status)                      \
    X(spectre_document_render) X(spectre_document_get_page_size)                                     \
    X(sprintf)
// clang-format on

// The hash of the libraries' own GNU hash tables, so those tables find the names.
consteval std::uint32_t gnu_hash(const char* name) {
    std::uint32_t hash = 5381;
    while (*name)
        hash = hash * 33 + static_cast<unsigned char>(*name++);
    return hash;
}

// One pointer per import, in the order of the list.
struct ImportTable {
#define IMPORT_POINTER(name) decltype(&::name) name;
    SHOW_IMPORTS(IMPORT_POINTER)
#undef IMPORT_POINTER
};

inline constexpr std::uint32_t IMPORT_HASHES[] = {
#define IMPORT_HASH(name) gnu_hash(#name),
    SHOW_IMPORTS(IMPORT_HASH)
#undef IMPORT_HASH
};
static_assert(sizeof(ImportTable) == sizeof IMPORT_HASHES / sizeof IMPORT_HASHES[0] * sizeof(void*));

// A dynamic-section address of a loaded object. The loader rebases these in
// place for the libraries it maps, but not for the kernel's vDSO, whose
// section is read-only.
inline std::uintptr_t dynamic_address(const link_map* object, Elf64_Sxword tag) {
    for (const Elf64_Dyn* entry = object->l_ld; entry->d_tag; ++entry)
        if (entry->d_tag == tag)
            return entry->d_un.d_ptr < object->l_addr ? entry->d_un.d_ptr + object->l_addr
                                                      : entry->d_un.d_ptr;
    return 0;
}

// The address of the first definition of the name with this hash among the
// loaded objects, in the loader's order; null if none defines it.
inline void* find_import(const link_map* object, std::uint32_t hash) {
    for (; object; object = object->l_next) {
        auto* table = reinterpret_cast<const std::uint32_t*>(dynamic_address(object, DT_GNU_HASH));
        if (!table) continue;
        auto* symbols = reinterpret_cast<const Elf64_Sym*>(dynamic_address(object, DT_SYMTAB));
        std::uint32_t buckets = table[0], first_hashed = table[1], bloom_words = table[2];
        const std::uint32_t* bucket = table + 4 + 2 * bloom_words;
        const std::uint32_t* chain = bucket + buckets - first_hashed;
        // A chain holds the hashes of one bucket's names, its last one with bit 0 set.
        for (std::uint32_t index = bucket[hash % buckets]; index; ++index) {
            if ((chain[index] | 1) == (hash | 1))
                return reinterpret_cast<void*>(object->l_addr + symbols[index].st_value);
            if (chain[index] & 1) break;
        }
    }
    return nullptr;
}

// Fills the table from the objects the loader lists, starting at first.
// False if a library lacks one of the functions.
inline bool resolve_imports(ImportTable& imports, const link_map* first) {
    void** slot = reinterpret_cast<void**>(&imports);
    for (std::uint32_t hash : IMPORT_HASHES)
        if (!(*slot++ = find_import(first, hash))) return false;
    return true;
}
