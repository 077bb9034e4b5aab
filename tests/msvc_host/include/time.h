#include "libc.h" /* c_host.c's C library: see libc.h */
