// A host written in C: every call on a camera in the C interface tests is
// made here, in C; the C++ side only stands up the peers and checks what
// reached them and what came back.
#ifndef KORVANE_TEST_C_HOST_H
#define KORVANE_TEST_C_HOST_H

#include <korvane/korvane_c.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Reports received by a camera's report function, collected under a lock.
typedef struct c_host_reports c_host_reports;

c_host_reports* c_host_reports_new(void);
void c_host_reports_free(c_host_reports* reports);
// 1 once at least count reports have arrived, 0 when they have not within
// timeout_ms.
int c_host_wait_reports(c_host_reports* reports, int count, int timeout_ms);
int c_host_report_count(c_host_reports* reports);
// Report index: its bytes (up to capacity) and message code; returns its
// length, or -1 when there is no such report or its context was not the one
// registered.
int c_host_report(c_host_reports* reports, int index, unsigned char* bytes, int capacity, uint32_t* message);

// A serial camera set up and opened the way a C host does it; null when a
// step failed. The other links' set-up through the C interface is the Python
// package's (python/tests).
korvane_camera* c_host_serial_camera(const char* device, uint32_t address, int32_t protocol,
                                     c_host_reports* reports);

// The commands a camera gets, in this order: move up, stop, move bottom
// right, zoom plus, preset 5 go / set / clear, open track, close track.
// Returns how many of them returned 1.
int c_host_drive(korvane_camera* cam);

// Every function with a null handle; returns how many did not give the
// failure value (0 or nothing).
int c_host_null_handle_misses(void);
// Null texts for each function that takes text; returns how many calls did
// not give the expected result.
int c_host_null_text_misses(uint16_t relayed_device_port);

#ifdef __cplusplus
}
#endif

#endif
