// Links against the installed library and calls through its interface.
#include <korvane/Korvane.h>

int main()
{
    CKorvane none(static_cast<KORVANEMODE>(0));
    CKorvane serial(MODE_SERIAL);
    MYDCB dcb{9600, 8, PROTOCOL_PELCO_D};
    const bool ok = none.Open() == 1 && none.MoveUp() == 1 && !serial.SetCommDevice(nullptr, dcb) &&
                    serial.Open() == 0;
    return ok ? 0 : 1;
}
