/* A Windows host as MSVC builds one, made by clang in MSVC mode and linked by
 * lld-link against Korvanu.lib alone: no C runtime, only the C interface and
 * kernel32. It runs the C host's own checks (tests/c_host/c_host.c, built
 * over include/ here) and drives a serial camera on a COM-port pair:
 * KORVANE_PEER_PORT is the peer's end, KORVANE_CAMERA_PORT the camera's.
 * Prints one line per check; exits 0 when all passed. */
#include "../c_host/c_host.h"
#include "libc.h"

/* MSVC's code marks any use of floating point with this symbol, which the C
 * runtime would define. */
int _fltused;

/* The compiler may call these two as well. */
void* memcpy(void* to, const void* from, size_t size)
{
    for (size_t i = 0; i < size; ++i) ((unsigned char*)to)[i] = ((const unsigned char*)from)[i];
    return to;
}
void* memset(void* to, int value, size_t size)
{
    for (size_t i = 0; i < size; ++i) ((unsigned char*)to)[i] = (unsigned char)value;
    return to;
}

static int g_failures;

static void print(const char* text)
{
    DWORD written = 0, size = 0;
    while (text[size]) ++size;
    WriteFile(GetStdHandle((DWORD)-11), text, size, &written, NULL);
}

static void check(int ok, const char* what)
{
    print(ok ? "ok    " : "FAIL  ");
    print(what);
    print("\n");
    g_failures += !ok;
}

static int same(const void* a, const void* b, int size) /* size -1: texts */
{
    const unsigned char *x = (const unsigned char*)a, *y = (const unsigned char*)b;
    for (; size != 0 && (size > 0 || *x || *y); --size, ++x, ++y)
        if (*x != *y) return 0;
    return 1;
}

/* Exactly size bytes from the peer's end, or fewer when 3 s pass. */
static int read_peer(void* peer, unsigned char* bytes, int size)
{
    int got = 0;
    DWORD done = 0;
    while (got < size && ReadFile(peer, bytes + got, (DWORD)(size - got), &done, NULL) && done > 0) got += (int)done;
    return got;
}

/* Back to back, a move may be replaced by the next (or removed by the stop)
 * before the line takes it: true when the ordered frames (preset set and
 * clear, track on and off) all arrive in their order among at most 9. */
static int read_ordered(void* peer, const unsigned char (*ordered)[7], int count)
{
    unsigned char frame[7];
    int next = 0, frames = 0;
    while (next < count && frames++ < 9 && read_peer(peer, frame, 7) == 7)
        if (same(frame, ordered[next], 7)) ++next;
    return next == count;
}

static void serial_camera(void)
{
    static const unsigned char opened[14] = {0xFF, 1, 0, 7, 0, 0x58, 0x60, 0xFF, 1, 0, 7, 0, 0x64, 0x6C};
    static const unsigned char ordered[4][7] = {{0xFF, 1, 0, 3, 0, 5, 9}, {0xFF, 1, 0, 5, 0, 5, 0x0B},
                                                {0xFF, 1, 0, 7, 0, 0x50, 0x58}, {0xFF, 1, 0, 7, 0, 0x51, 0x59}};
    static const unsigned char appears[7] = {0xFF, 1, 0, 7, 0, 0x50, 0x58};
    k32_comm_timeouts timeouts = {0, 0, 3000, 0, 3000};
    k32_dcb line = {sizeof(k32_dcb), 9600, 1 /* binary, no flow control */, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0};
    unsigned char bytes[64];
    uint32_t message = 0;
    DWORD written = 0;
    c_host_reports* reports = c_host_reports_new();
    void* peer = CreateFileA("\\\\.\\" KORVANE_PEER_PORT, 0xC0000000u /* read, write */, 0, NULL, 3 /* existing */,
                             0, NULL);
    korvane_camera* cam;
    check(peer != (void*)(ptrdiff_t)-1 && SetCommState(peer, &line) && SetCommTimeouts(peer, &timeouts),
          "the peer's end of the COM-port pair opens at 9600 8N1");
    if (peer == (void*)(ptrdiff_t)-1) return;
    cam = c_host_serial_camera(KORVANE_CAMERA_PORT, 1, KORVANE_PELCO_D, reports);
    check(cam != NULL, "a serial camera opens on the camera's end");
    check(read_peer(peer, bytes, 14) == 14 && same(bytes, opened, 14), "open with reports on sends presets 88 and 100");
    check(c_host_drive(cam) == 9, "every command returns 1");
    check(read_ordered(peer, ordered, 4), "the commands reach the line, presets and switches in order");
    WriteFile(peer, appears, sizeof appears, &written, NULL);
    check(c_host_wait_reports(reports, 1, 5000) && c_host_report(reports, 0, bytes, 7, &message) == 7 &&
              message == KORVANE_TARGET_APPEARS && same(bytes, appears, 7),
          "a return code reaches the host's report function with its context");
    korvane_close(cam);
    korvane_camera_free(cam);
    c_host_reports_free(reports);
    CloseHandle(peer);
}

void host_main(void)
{
    korvane_camera* unknown = korvane_camera_new(0);
    check(same(korvane_version(), KORVANE_TEST_VERSION, -1), "korvane_version() is the project's version");
    check(c_host_null_handle_misses() == 0, "every function takes a null handle and gives its failure value");
    check(c_host_drive(unknown) == 9, "a camera of no known mode takes every command");
    korvane_camera_free(unknown);
    serial_camera();
    print(g_failures ? "MSVC host: checks failed\n" : "MSVC host: all checks passed\n");
    ExitProcess(g_failures ? 1u : 0u);
}
