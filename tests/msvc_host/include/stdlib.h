/* calloc and free on the process heap. */
#ifndef KORVANE_MSVC_HOST_STDLIB_H
#define KORVANE_MSVC_HOST_STDLIB_H

#include "kernel32.h"

#define HEAP_ZERO_MEMORY 0x8
static inline void* calloc(size_t count, size_t size) { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * size); }
static inline void free(void* memory) { if (memory) HeapFree(GetProcessHeap(), 0, memory); }

#endif
