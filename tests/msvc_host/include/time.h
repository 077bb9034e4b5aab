/* clock_gettime on the tick count: all c_host.c needs is time going forward
 * (32-bit arithmetic only: no C runtime helpers on i686). */
#ifndef KORVANE_MSVC_HOST_TIME_H
#define KORVANE_MSVC_HOST_TIME_H

#include "kernel32.h"

#define CLOCK_REALTIME 0
struct timespec {
    long tv_sec;
    long tv_nsec;
};
static inline int clock_gettime(int clock, struct timespec* now)
{
    const DWORD ticks = GetTickCount();
    (void)clock;
    now->tv_sec = (long)(ticks / 1000u);
    now->tv_nsec = (long)(ticks % 1000u) * 1000000L;
    return 0;
}

#endif
