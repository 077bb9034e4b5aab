/* Defined in msvc_host.c (the compiler may call them too). */
#ifndef KORVANE_MSVC_HOST_STRING_H
#define KORVANE_MSVC_HOST_STRING_H
#include <stddef.h>
void* memcpy(void* to, const void* from, size_t size);
void* memset(void* to, int value, size_t size);
#endif
