"""Drive PTZ cameras that work with a presenter-tracking system, through the
Korvanu library's C interface (ctypes; no compiled extension).

    import korvane

    with korvane.Camera.serial("/dev/ttyUSB0", address=1, reports=True) as cam:
        cam.move("left")
        cam.stop()
        cam.goto_preset(5)
        if cam.can("focus"):
            cam.focus("far")
        for report in cam.reports(timeout=10.0):
            print(report.message, report.data.hex(" "))

The library is found through KORVANE_LIBRARY (its path or folder), beside this
package, in the prefix the package is installed in (PREFIX/lib/python3/
dist-packages/korvane finds PREFIX/lib/x86_64-linux-gnu or PREFIX/lib), or on
the system path; library_path() names the file loaded.
"""

from ._library import LibraryNotFoundError, library_path
from ._version import read_version
from .camera import (DIRECTIONS, OPERATIONS, Camera, DeviceType, FoundCamera, KorvaneError, LinkState, LinkStatus,
                     Message, Mode, Position, PresetOp, Protocol, Report, TrackSystemType, Unsupported, discover,
                     library_version, link_why_cannot, set_message_handler)

__version__ = read_version()

__all__ = [
    "DIRECTIONS", "OPERATIONS", "Camera", "DeviceType", "FoundCamera", "KorvaneError", "LibraryNotFoundError",
    "LinkState", "LinkStatus", "Message", "Mode", "Position", "PresetOp", "Protocol", "Report", "TrackSystemType",
    "Unsupported", "discover", "library_path", "library_version", "link_why_cannot", "set_message_handler",
]
