/* The few kernel32 functions the MSVC host and its stand-in C library use,
 * declared by hand: the host is built with no Windows SDK and no C runtime. */
#ifndef KORVANE_MSVC_HOST_KERNEL32_H
#define KORVANE_MSVC_HOST_KERNEL32_H

#include <stddef.h>

#define K32_IMPORT __declspec(dllimport)
#define K32 __stdcall
typedef unsigned long DWORD;
typedef struct {
    DWORD interval, multiplier, constant, write_multiplier, write_constant;
} k32_comm_timeouts;

K32_IMPORT void* K32 GetProcessHeap(void);
K32_IMPORT void* K32 HeapAlloc(void* heap, DWORD flags, size_t bytes);
K32_IMPORT int K32 HeapFree(void* heap, DWORD flags, void* memory);
K32_IMPORT DWORD K32 GetTickCount(void);
K32_IMPORT void K32 InitializeSRWLock(void** lock);
K32_IMPORT void K32 AcquireSRWLockExclusive(void** lock);
K32_IMPORT void K32 ReleaseSRWLockExclusive(void** lock);
K32_IMPORT void K32 InitializeConditionVariable(void** cv);
K32_IMPORT int K32 SleepConditionVariableSRW(void** cv, void** lock, DWORD ms, DWORD flags);
K32_IMPORT void K32 WakeAllConditionVariable(void** cv);
K32_IMPORT void* K32 GetStdHandle(DWORD which);
K32_IMPORT void* K32 CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                      void* templ);
K32_IMPORT int K32 ReadFile(void* file, void* buffer, DWORD size, DWORD* done, void* overlapped);
K32_IMPORT int K32 WriteFile(void* file, const void* buffer, DWORD size, DWORD* done, void* overlapped);
K32_IMPORT int K32 SetCommTimeouts(void* file, k32_comm_timeouts* timeouts);
K32_IMPORT int K32 CloseHandle(void* file);
K32_IMPORT __declspec(noreturn) void K32 ExitProcess(unsigned code);

#endif
