// Compiled as C99: the C interface as a C host sees it.
#include "c_host.h"

#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { kMaxReports = 32, kMaxBytes = 64 };
#define C_HOST_MAGIC 0x4B6F7276u

struct c_host_reports {
    uint32_t magic; // tells a context handed back unchanged from anything else
    pthread_mutex_t lock;
    pthread_cond_t arrived;
    int count;
    int length[kMaxReports];
    uint32_t message[kMaxReports];
    int context_ok[kMaxReports];
    unsigned char bytes[kMaxReports][kMaxBytes];
};

c_host_reports* c_host_reports_new(void)
{
    c_host_reports* reports = (c_host_reports*)calloc(1, sizeof *reports);
    if (!reports) return NULL;
    reports->magic = C_HOST_MAGIC;
    pthread_mutex_init(&reports->lock, NULL);
    pthread_cond_init(&reports->arrived, NULL);
    return reports;
}

void c_host_reports_free(c_host_reports* reports)
{
    if (!reports) return;
    pthread_cond_destroy(&reports->arrived);
    pthread_mutex_destroy(&reports->lock);
    free(reports);
}

// The report function: the context is the collector it was registered with
// (each camera has its own), so a report routed to the wrong camera lands in
// the wrong collector.
static void on_report(const unsigned char* data, int32_t length, uint32_t message, void* ctx)
{
    c_host_reports* reports = (c_host_reports*)ctx;
    pthread_mutex_lock(&reports->lock);
    if (reports->count < kMaxReports) {
        const int i = reports->count++;
        const int kept = length < kMaxBytes ? length : kMaxBytes;
        reports->length[i] = length;
        reports->message[i] = message;
        reports->context_ok[i] = reports->magic == C_HOST_MAGIC;
        if (data && kept > 0) memcpy(reports->bytes[i], data, (size_t)kept);
    }
    pthread_cond_broadcast(&reports->arrived);
    pthread_mutex_unlock(&reports->lock);
}

int c_host_wait_reports(c_host_reports* reports, int count, int timeout_ms)
{
    struct timespec deadline;
    int reached;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_nsec += (long)(timeout_ms % 1000) * 1000000L;
    deadline.tv_sec += timeout_ms / 1000 + deadline.tv_nsec / 1000000000L;
    deadline.tv_nsec %= 1000000000L;
    pthread_mutex_lock(&reports->lock);
    while (reports->count < count) {
        if (pthread_cond_timedwait(&reports->arrived, &reports->lock, &deadline) == ETIMEDOUT) break;
    }
    reached = reports->count >= count;
    pthread_mutex_unlock(&reports->lock);
    return reached;
}

int c_host_report_count(c_host_reports* reports)
{
    int count;
    pthread_mutex_lock(&reports->lock);
    count = reports->count;
    pthread_mutex_unlock(&reports->lock);
    return count;
}

int c_host_report(c_host_reports* reports, int index, unsigned char* bytes, int capacity, uint32_t* message)
{
    int length = -1;
    pthread_mutex_lock(&reports->lock);
    if (index >= 0 && index < reports->count && reports->context_ok[index]) {
        const int stored = reports->length[index] < kMaxBytes ? reports->length[index] : kMaxBytes;
        memcpy(bytes, reports->bytes[index], (size_t)(stored < capacity ? stored : capacity));
        *message = reports->message[index];
        length = reports->length[index];
    }
    pthread_mutex_unlock(&reports->lock);
    return length;
}

korvane_camera* c_host_serial_camera(const char* device, uint32_t address, int32_t protocol,
                                     c_host_reports* reports)
{
    korvane_camera* cam = korvane_camera_new(KORVANE_MODE_SERIAL);
    korvane_set_device_address(cam, address);
    korvane_set_horizontal_speed(cam, 30);
    korvane_set_vertical_speed(cam, 30);
    korvane_set_recv_notify(cam, on_report, reports);
    if (korvane_set_comm_device(cam, device, 9600, 8, protocol) && korvane_open(cam)) return cam;
    korvane_camera_free(cam);
    return NULL;
}

typedef int32_t(KORVANE_CALL* command_fn)(korvane_camera* cam);

static int32_t KORVANE_CALL go_to_5(korvane_camera* cam) { return korvane_preset(cam, 5, KORVANE_PRESET_GO); }
static int32_t KORVANE_CALL set_5(korvane_camera* cam) { return korvane_preset(cam, 5, KORVANE_PRESET_SET); }
static int32_t KORVANE_CALL clear_5(korvane_camera* cam) { return korvane_preset(cam, 5, KORVANE_PRESET_CLEAR); }

int c_host_drive(korvane_camera* cam)
{
    static const command_fn driven[] = {korvane_move_up, korvane_stop, korvane_move_bottom_right,
                                        korvane_zoom_plus, go_to_5, set_5, clear_5,
                                        korvane_open_track, korvane_close_track};
    int ones = 0;
    size_t i;
    for (i = 0; i < sizeof driven / sizeof driven[0]; ++i) ones += driven[i](cam) == 1;
    return ones;
}

// Every function of a camera that returns a result; with a null handle each
// gives 0.
static const command_fn kResultFunctions[] = {
    korvane_open, korvane_move_up, korvane_move_down, korvane_move_left, korvane_move_right,
    korvane_move_top_left, korvane_move_top_right, korvane_move_bottom_left, korvane_move_bottom_right,
    korvane_stop, korvane_zoom_plus, korvane_zoom_minus, korvane_focus_plus, korvane_focus_minus,
    korvane_iris_plus, korvane_iris_minus, go_to_5, korvane_open_track, korvane_close_track,
    korvane_open_auto_zoom, korvane_close_auto_zoom, korvane_open_auto_write, korvane_close_auto_write,
    korvane_connect_test, korvane_goto_home, korvane_set_home,
};

int c_host_null_handle_misses(void)
{
    korvane_camera* none = NULL;
    int32_t first = 7, last = 7, moving = 7;
    char text[32] = "x";
    float pan = 0.5f;
    int misses = 0;
    size_t i;
    // The setters have no result: they must only return.
    korvane_set_device_address(none, 1);
    korvane_set_horizontal_speed(none, 30);
    korvane_set_vertical_speed(none, 30);
    korvane_set_device_type(none, KORVANE_DEVICE_ONVIF);
    korvane_set_socket_param(none, KORVANE_PELCO_D, "127.0.0.1", 80, 0, "u", "p", "t");
    korvane_set_system_type(none, KORVANE_TRACKSYSTEM_TYPE_1);
    korvane_set_system_param(none, KORVANE_PELCO_D, "127.0.0.1", 5000);
    korvane_set_recv_notify(none, on_report, NULL);
    misses += korvane_set_comm_device(none, "/dev/null", 9600, 8, KORVANE_PELCO_D) != 0;
    for (i = 0; i < sizeof kResultFunctions / sizeof kResultFunctions[0]; ++i)
        misses += kResultFunctions[i](none) != 0;
    misses += korvane_can(none, KORVANE_OP_MOVE) != 0;
    misses += korvane_preset_range(none, &first, &last) != 0 || first != 0 || last != -1;
    misses += korvane_stored_presets(none, &first, 1) != -1 || first != 0;
    misses += korvane_link_state(none, text, sizeof text) != KORVANE_LINK_UNCHECKED || text[0] != 0;
    misses += korvane_why_cannot(none, KORVANE_OP_MOVE, text, sizeof text) != 1; /* "no camera" */
    misses += korvane_get_position(none, &pan, NULL, NULL, &moving) != 0 || pan != 0.5f || moving != 7;
    korvane_set_onvif_profile(none, "Profile_1");
    korvane_set_tls_fingerprint(none, "00");
    misses += korvane_discovery_count(NULL) != 0 || korvane_discovery_error(NULL)[0] != 0;
    misses += korvane_discovery_port(NULL, 0) != 0 || korvane_discovery_ptz(NULL, 0) != 0;
    misses += korvane_discovery_address(NULL, 0)[0] != 0 || korvane_discovery_scheme(NULL, 0)[0] != 0;
    misses += korvane_discovery_host(NULL, 0)[0] != 0 || korvane_discovery_name(NULL, 0)[0] != 0;
    misses += korvane_discovery_hardware(NULL, 0)[0] != 0 || korvane_discovery_endpoint(NULL, 0)[0] != 0;
    korvane_discovery_free(NULL);
    korvane_close(none);
    korvane_camera_free(none);
    return misses;
}

int c_host_null_text_misses(uint16_t relayed_device_port)
{
    int misses = 0;
    korvane_camera* serial = korvane_camera_new(KORVANE_MODE_SERIAL);
    korvane_camera* tracking = korvane_camera_new(KORVANE_MODE_TRACKSYSTEM);
    korvane_camera* relayed = korvane_camera_new(KORVANE_MODE_NETWORK);

    misses += korvane_set_comm_device(serial, NULL, 9600, 8, KORVANE_PELCO_D) != 0;
    // Without an address the tracking camera has nowhere to send (0, and
    // korvane_last_error says so); it still takes its registration on port
    // 10000.
    korvane_set_system_param(tracking, KORVANE_PELCO_D, NULL, 5000);
    misses += korvane_move_up(tracking) != 0;
    misses += korvane_last_error(NULL, 0) != KORVANE_RESULT_NOT_OPEN;
    // Null texts reach the relay as empty fields.
    korvane_set_device_type(relayed, KORVANE_DEVICE_RELAY_1);
    korvane_set_socket_param(relayed, KORVANE_PELCO_D, NULL, relayed_device_port, 0, NULL, NULL, NULL);
    misses += korvane_open(relayed) != 1;
    misses += korvane_move_up(relayed) != 1;

    korvane_close(relayed);
    korvane_close(tracking);
    korvane_camera_free(relayed);
    korvane_camera_free(tracking);
    korvane_camera_free(serial);
    return misses;
}
