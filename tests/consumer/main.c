/* A C host that links the installed library and calls its C interface. */
#include <korvane/korvane_c.h>

#include <string.h>

int main(void)
{
    korvane_camera* none = korvane_camera_new(0);
    korvane_camera* serial = korvane_camera_new(KORVANE_MODE_SERIAL);
    const int ok = none && serial && strlen(korvane_version()) > 0 && korvane_open(none) == 1 &&
                   korvane_move_up(none) == 1 &&
                   korvane_set_comm_device(serial, NULL, 9600, 8, KORVANE_PELCO_D) == 0 &&
                   korvane_open(serial) == 0 && korvane_move_up(NULL) == 0;
    korvane_camera_free(serial);
    korvane_camera_free(none);
    return ok ? 0 : 1;
}
