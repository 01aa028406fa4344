// simwin's structures against Windows' own, proved by the compiler in the host build: each one
// simwin/win32.h declares has the size and field offsets of the 64-bit column of
// tests/sdk/structure_layouts.h, the column the 64-bit Windows build holds the SDK to. Nothing
// here runs.
#include <cstddef>

#include "simwin/win32.h"

static_assert(sizeof(void*) == 8, "simwin's structures take the layout of 64-bit Windows");

#define QDI_STRUCTURE(type, size32, size64)                                                        \
    static_assert(sizeof(type) == (size64), "the size of " #type);
#define QDI_FIELD(type, field, offset32, offset64)                                                 \
    static_assert(offsetof(type, field) == (offset64), "the offset of " #type "." #field);
#include "tests/sdk/structure_layouts.h"
