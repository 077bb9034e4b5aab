/* The part of the C library tests/c_host/c_host.c uses, on kernel32 alone
 * (the host has no Windows SDK and no C runtime): calloc and free on the
 * process heap, mutexes and condition variables on slim locks, a clock on the
 * tick count (32-bit arithmetic: no runtime helpers on i686). */
#ifndef KORVANE_MSVC_HOST_LIBC_H
#define KORVANE_MSVC_HOST_LIBC_H
#include <stddef.h>

typedef unsigned long DWORD;
typedef struct { DWORD interval, multiplier, constant, write_multiplier, write_constant; } k32_comm_timeouts;
__declspec(dllimport) void* __stdcall GetProcessHeap(void);
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, DWORD flags, size_t bytes);
__declspec(dllimport) int __stdcall HeapFree(void* heap, DWORD flags, void* memory);
__declspec(dllimport) DWORD __stdcall GetTickCount(void);
__declspec(dllimport) void __stdcall InitializeSRWLock(void** lock);
__declspec(dllimport) void __stdcall AcquireSRWLockExclusive(void** lock);
__declspec(dllimport) void __stdcall ReleaseSRWLockExclusive(void** lock);
__declspec(dllimport) void __stdcall InitializeConditionVariable(void** cv);
__declspec(dllimport) int __stdcall SleepConditionVariableSRW(void** cv, void** lock, DWORD ms, DWORD flags);
__declspec(dllimport) void __stdcall WakeAllConditionVariable(void** cv);
__declspec(dllimport) void* __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) void* __stdcall CreateFileA(const char* name, DWORD access, DWORD share, void* security,
                                                  DWORD disposition, DWORD flags, void* templ);
__declspec(dllimport) int __stdcall ReadFile(void* file, void* buffer, DWORD size, DWORD* done, void* overlapped);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* buffer, DWORD size, DWORD* done, void* overlapped);
__declspec(dllimport) int __stdcall SetCommTimeouts(void* file, k32_comm_timeouts* timeouts);
typedef struct {
    DWORD length, baud, flags;
    unsigned short reserved, xon_lim, xoff_lim;
    unsigned char byte_size, parity, stop_bits;
    char xon, xoff, error, eof, event;
    unsigned short reserved1;
} k32_dcb;
__declspec(dllimport) int __stdcall SetCommState(void* file, k32_dcb* dcb);
__declspec(dllimport) int __stdcall CloseHandle(void* file);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned code);

void* memcpy(void* to, const void* from, size_t size); /* in msvc_host.c */
static inline void* calloc(size_t n, size_t size) { return HeapAlloc(GetProcessHeap(), 0x8 /* zeroed */, n * size); }
static inline void free(void* memory) { if (memory) HeapFree(GetProcessHeap(), 0, memory); }

#define ETIMEDOUT 138
#define CLOCK_REALTIME 0
struct timespec { long tv_sec, tv_nsec; };
static inline int clock_gettime(int clock, struct timespec* now)
{
    const DWORD ticks = GetTickCount();
    (void)clock;
    now->tv_sec = (long)(ticks / 1000u);
    now->tv_nsec = (long)(ticks % 1000u) * 1000000L;
    return 0;
}

typedef struct { void* lock; } pthread_mutex_t;
typedef struct { void* cv; } pthread_cond_t;
static inline int pthread_mutex_init(pthread_mutex_t* m, const void* a) { (void)a; InitializeSRWLock(&m->lock); return 0; }
static inline int pthread_mutex_destroy(pthread_mutex_t* m) { (void)m; return 0; }
static inline int pthread_mutex_lock(pthread_mutex_t* m) { AcquireSRWLockExclusive(&m->lock); return 0; }
static inline int pthread_mutex_unlock(pthread_mutex_t* m) { ReleaseSRWLockExclusive(&m->lock); return 0; }
static inline int pthread_cond_init(pthread_cond_t* c, const void* a) { (void)a; InitializeConditionVariable(&c->cv); return 0; }
static inline int pthread_cond_destroy(pthread_cond_t* c) { (void)c; return 0; }
static inline int pthread_cond_broadcast(pthread_cond_t* c) { WakeAllConditionVariable(&c->cv); return 0; }
static inline int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const struct timespec* until)
{
    struct timespec now;
    long ms;
    clock_gettime(CLOCK_REALTIME, &now);
    ms = (until->tv_sec - now.tv_sec) * 1000 + (until->tv_nsec - now.tv_nsec) / 1000000;
    return ms > 0 && SleepConditionVariableSRW(&c->cv, &m->lock, (DWORD)ms, 0) ? 0 : ETIMEDOUT;
}
#endif
