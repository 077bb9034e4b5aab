"""Drive PTZ cameras that work with a presenter-tracking system, through the
Korvanu library's C interface (ctypes; no compiled extension).

    import korvane

    def on_report(report):
        print(report.message.name, report.data.hex(" "))

    with korvane.Camera.serial("/dev/ttyUSB0", address=1, on_report=on_report) as cam:
        cam.move_left()
        cam.stop()
        cam.goto_preset(5)
        if cam.can("focus"):
            cam.focus_plus()

The library is found through KORVANE_LIBRARY (its path or folder), beside this
package, or on the system path.
"""

from ._library import LibraryNotFoundError
from ._version import read_version
from .camera import (OPERATIONS, Camera, DeviceType, FoundCamera, KorvaneError, LinkState, Message, Mode, Position,
                     PresetOp, Protocol, Report, TrackSystemType, Unsupported, discover, library_version,
                     link_why_cannot, set_message_handler)

__version__ = read_version()

__all__ = [
    "OPERATIONS", "Camera", "DeviceType", "FoundCamera", "KorvaneError", "LibraryNotFoundError", "LinkState",
    "Message", "Mode", "Position", "PresetOp", "Protocol", "Report", "TrackSystemType", "Unsupported", "discover",
    "library_version", "link_why_cannot", "set_message_handler",
]
