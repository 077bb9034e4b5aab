/* Mutexes and condition variables for tests/c_host/c_host.c on kernel32's
 * slim locks, as far as that file uses them. */
#ifndef KORVANE_MSVC_HOST_PTHREAD_H
#define KORVANE_MSVC_HOST_PTHREAD_H

#include "kernel32.h"
#include <errno.h>
#include <time.h>

typedef struct { void* lock; } pthread_mutex_t;
typedef struct { void* cv; } pthread_cond_t;

static inline int pthread_mutex_init(pthread_mutex_t* m, const void* attr) { (void)attr; InitializeSRWLock(&m->lock); return 0; }
static inline int pthread_mutex_destroy(pthread_mutex_t* m) { (void)m; return 0; }
static inline int pthread_mutex_lock(pthread_mutex_t* m) { AcquireSRWLockExclusive(&m->lock); return 0; }
static inline int pthread_mutex_unlock(pthread_mutex_t* m) { ReleaseSRWLockExclusive(&m->lock); return 0; }
static inline int pthread_cond_init(pthread_cond_t* c, const void* attr) { (void)attr; InitializeConditionVariable(&c->cv); return 0; }
static inline int pthread_cond_destroy(pthread_cond_t* c) { (void)c; return 0; }
static inline int pthread_cond_broadcast(pthread_cond_t* c) { WakeAllConditionVariable(&c->cv); return 0; }
static inline int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const struct timespec* deadline)
{
    struct timespec now;
    long ms;
    clock_gettime(CLOCK_REALTIME, &now);
    ms = (long)(deadline->tv_sec - now.tv_sec) * 1000 + (deadline->tv_nsec - now.tv_nsec) / 1000000;
    if (ms <= 0) return ETIMEDOUT;
    return SleepConditionVariableSRW(&c->cv, &m->lock, (DWORD)ms, 0) ? 0 : ETIMEDOUT;
}

#endif
