"""The Camera class over the C interface."""

import atexit
import ctypes
import itertools
import os
import sys
import threading
import traceback
import weakref
from enum import IntEnum
from typing import Callable, NamedTuple, Optional, Union

from ._library import MESSAGE_FN, REPORT_FN, library


class Mode(IntEnum):
    SERIAL = 1
    NETWORK = 2
    TRACKSYSTEM = 3


class Protocol(IntEnum):
    PELCO_D = 1
    PELCO_P = 2
    VISCA = 3


class DeviceType(IntEnum):
    RELAY_1 = 1
    RELAY_2 = 2
    ONVIF = 3
    RELAY_4 = 4  # relayed, with target events


class TrackSystemType(IntEnum):
    TYPE_1 = 1


class PresetOp(IntEnum):
    GO = 0
    SET = 1
    CLEAR = 2


class Message(IntEnum):
    TARGET_APPEARS = 0x8400
    TARGET_DISAPPEARS = 0x8401
    CLOSEUP_READY = 0x8402
    MULTIPLE_TARGETS = 0x8403
    DOWN_PODIUM = 0x8404
    UP_PODIUM = 0x8405
    WRITE_START = 0x8406
    WRITE_STOP = 0x8407


class Report(NamedTuple):
    message: Union[Message, int]
    data: bytes


class KorvaneError(Exception):
    """A camera could not be set up or opened."""


class Position(NamedTuple):
    """Where an ONVIF camera points, as it reports it."""
    pan: float
    tilt: float
    zoom: float
    moving: bool


class FoundCamera(NamedTuple):
    """An ONVIF camera that answered discovery; Camera.onvif(cam.host if
    cam.scheme == "http" else "https://" + cam.host, cam.port, ...) opens it."""
    address: str
    scheme: str
    host: str
    port: int
    name: str
    hardware: str
    ptz: bool
    endpoint: str


def discover(timeout: float = 3.0, interface: Optional[str] = None) -> "list[FoundCamera]":
    """Probe the local network for ONVIF cameras (WS-Discovery) for timeout
    seconds, from the interface with this IPv4 address (None: the system's
    choice). Raises KorvaneError when the probe could not be sent."""
    lib = library()
    found = lib.korvane_discover(int(timeout * 1000), _text(interface))
    if not found:
        raise MemoryError("korvane_discover")
    try:
        count = lib.korvane_discovery_count(found)
        error = lib.korvane_discovery_error(found).decode("utf-8", "replace")
        if count == 0 and error:
            raise KorvaneError(f"discovery failed: {error}")

        def text(field, i):
            return getattr(lib, "korvane_discovery_" + field)(found, i).decode("utf-8", "replace")
        return [FoundCamera(text("address", i), text("scheme", i), text("host", i),
                            lib.korvane_discovery_port(found, i), text("name", i), text("hardware", i),
                            bool(lib.korvane_discovery_ptz(found, i)), text("endpoint", i))
                for i in range(count)]
    finally:
        lib.korvane_discovery_free(found)


ReportCallable = Callable[[Report], object]

# One C callback for every camera, alive as long as the module: a ctypes
# callback object collected while the library may still call it crashes the
# process. Each camera's context is a key into _receivers, dropped only after
# korvane_camera_free has returned (no report runs after that).
_receivers = {}
_keys = itertools.count(1)


def _deliver(data, length, message, ctx):
    try:
        receiver = _receivers.get(ctx or 0)
        if receiver is None:
            return
        payload = ctypes.string_at(data, length) if data and length > 0 else b""
        try:
            code = Message(message)
        except ValueError:
            code = message
        receiver(Report(code, payload))
    except BaseException:  # noqa: B036 - the host's error must not reach the library's thread
        print("korvane: the report callable raised; the report is dropped:", file=sys.stderr)
        traceback.print_exc()


_REPORT_CALLBACK = REPORT_FN(_deliver)

# Cameras still open when the interpreter exits are closed first, so that no
# report calls into an interpreter that is going away.
_open_cameras = weakref.WeakSet()


@atexit.register
def _close_all():
    for cam in list(_open_cameras):
        cam.close()

_message_lock = threading.Lock()
_message_callback = None  # the current handler's C callback, kept while installed


def set_message_handler(handler: Optional[Callable[[str, str], object]]) -> None:
    """Show the library's messages (title, text) yourself; None restores the
    default (a line on standard error; a message box on Windows)."""
    global _message_callback

    def show(title, text, _ctx):
        try:
            handler(title.decode("utf-8", "replace"), text.decode("utf-8", "replace"))
        except BaseException:  # noqa: B036
            traceback.print_exc()

    with _message_lock:
        callback = MESSAGE_FN(show) if handler else MESSAGE_FN()
        library().korvane_set_message_handler(callback, None)
        _message_callback = callback


def library_version() -> str:
    """The loaded library's version text."""
    return library().korvane_version().decode()


def _text(value) -> Optional[bytes]:
    if value is None:
        return None
    if isinstance(value, bytes):
        return value
    return os.fsencode(value) if isinstance(value, os.PathLike) else str(value).encode("utf-8")


class Camera:
    """One camera. Use the factories (serial, tracking, onvif, relay), which
    set it up and open it, or configure one step by step like the C++ class.
    Closing releases it; it is closed when collected, too."""

    def __init__(self, mode: Mode):
        self._lib = library()
        self._handle = self._lib.korvane_camera_new(int(mode))
        if not self._handle:
            raise MemoryError("korvane_camera_new")
        self._key = next(_keys)
        _open_cameras.add(self)
        self.mode = Mode(mode) if mode in Mode._value2member_map_ else mode

    # --- factories -----------------------------------------------------------
    @classmethod
    def serial(cls, device, address: int = 1, baud: int = 9600, data_bits: int = 8,
               protocol: Protocol = Protocol.PELCO_D, speed: Optional[int] = None,
               on_report: Optional[ReportCallable] = None) -> "Camera":
        cam = cls(Mode.SERIAL)
        with cam._closed_on_error():
            cam.set_device_address(address)
            if speed is not None:
                cam.set_speed(speed)
            if not cam.set_comm_device(device, baud, data_bits, protocol):
                raise KorvaneError(f"cannot open serial device {device!r} (missing, busy, no permission, "
                                   f"or address {address} already on that line)")
            cam.on_report = on_report
            cam._open_or_raise(f"serial device {device!r}")
        return cam

    @classmethod
    def tracking(cls, host: str, port: int, address: int = 1, protocol: Protocol = Protocol.PELCO_D,
                 system_type: TrackSystemType = TrackSystemType.TYPE_1, speed: Optional[int] = None,
                 on_report: Optional[ReportCallable] = None) -> "Camera":
        cam = cls(Mode.TRACKSYSTEM)
        with cam._closed_on_error():
            cam.set_device_address(address)
            if speed is not None:
                cam.set_speed(speed)
            cam.set_system_type(system_type)
            cam.set_system_param(protocol, host, port)
            cam.on_report = on_report
            cam._open_or_raise(f"tracking system {host}:{port} (local UDP port 10000 taken?)")
        return cam

    @classmethod
    def onvif(cls, host: str, port: int = 80, user: str = "", password: str = "",
              speed: Optional[int] = None, profile: Optional[str] = None,
              tls_fingerprint: Optional[str] = None) -> "Camera":
        """host: an IP address, or "https://IP[:port]" (port 443 is HTTPS too);
        tls_fingerprint pins a self-signed certificate (SHA-256, hex);
        profile names the media profile (default: the first with PTZ)."""
        cam = cls(Mode.NETWORK)
        with cam._closed_on_error():
            if speed is not None:
                cam.set_speed(speed)
            cam.set_device_type(DeviceType.ONVIF)
            cam.set_onvif_profile(profile)
            cam.set_tls_fingerprint(tls_fingerprint)
            cam.set_socket_param(Protocol.PELCO_D, host, port, user=user, password=password)
            cam._open_or_raise(f"ONVIF camera {host}:{port} (unreachable or wrong credentials)")
        return cam

    @classmethod
    def relay(cls, host: str, port: int, device_type: DeviceType = DeviceType.RELAY_1, address: int = 1,
              protocol: Protocol = Protocol.PELCO_D, user: str = "", password: str = "", value4: int = 0,
              text7: str = "", speed: Optional[int] = None,
              on_report: Optional[ReportCallable] = None) -> "Camera":
        cam = cls(Mode.NETWORK)
        with cam._closed_on_error():
            cam.set_device_address(address)
            if speed is not None:
                cam.set_speed(speed)
            cam.set_device_type(device_type)
            cam.set_socket_param(protocol, host, port, value4, user, password, text7)
            cam.on_report = on_report
            cam._open_or_raise(f"{host}:{port} through the relay service (is it running on 127.0.0.1:20715?)")
        return cam

    # --- configuration -------------------------------------------------------
    def set_device_address(self, address: int) -> None:
        self._lib.korvane_set_device_address(self._live(), address)

    def set_horizontal_speed(self, speed: int) -> None:
        self._lib.korvane_set_horizontal_speed(self._live(), speed)

    def set_vertical_speed(self, speed: int) -> None:
        self._lib.korvane_set_vertical_speed(self._live(), speed)

    def set_speed(self, pan: int, tilt: Optional[int] = None) -> None:
        self.set_horizontal_speed(pan)
        self.set_vertical_speed(pan if tilt is None else tilt)

    def set_comm_device(self, name, baud: int = 9600, data_bits: int = 8,
                        protocol: Protocol = Protocol.PELCO_D) -> bool:
        return bool(self._lib.korvane_set_comm_device(self._live(), _text(name), baud, data_bits, int(protocol)))

    def set_device_type(self, device_type: DeviceType) -> None:
        self._lib.korvane_set_device_type(self._live(), int(device_type))

    def set_socket_param(self, protocol: Protocol, ip: str, port: int, value4: int = 0, user: str = "",
                         password: str = "", text7: str = "") -> None:
        self._lib.korvane_set_socket_param(self._live(), int(protocol), _text(ip), port, value4, _text(user),
                                           _text(password), _text(text7))

    def set_onvif_profile(self, token: Optional[str]) -> None:
        self._lib.korvane_set_onvif_profile(self._live(), _text(token))

    def set_tls_fingerprint(self, sha256: Optional[str]) -> None:
        """Before set_socket_param: the certificate an HTTPS camera must show."""
        self._lib.korvane_set_tls_fingerprint(self._live(), _text(sha256))

    def set_system_type(self, system_type: TrackSystemType) -> None:
        self._lib.korvane_set_system_type(self._live(), int(system_type))

    def set_system_param(self, protocol: Protocol, ip: str, port: int) -> None:
        self._lib.korvane_set_system_param(self._live(), int(protocol), _text(ip), port)

    @property
    def on_report(self) -> Optional[ReportCallable]:
        """Called with a Report on one of the library's threads. Set before
        open(). Exceptions it raises are printed and the report dropped."""
        return _receivers.get(self._key)

    @on_report.setter
    def on_report(self, receiver: Optional[ReportCallable]) -> None:
        handle = self._live()
        if receiver is None:
            self._lib.korvane_set_recv_notify(handle, REPORT_FN(), None)
            _receivers.pop(self._key, None)
        else:
            _receivers[self._key] = receiver
            self._lib.korvane_set_recv_notify(handle, _REPORT_CALLBACK, self._key)

    # --- link ----------------------------------------------------------------
    def open(self) -> bool:
        return bool(self._lib.korvane_open(self._live()))

    def close(self) -> None:
        """Closes the link and releases the camera; no report arrives after
        this returns. Calling it again does nothing."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            self._lib.korvane_close(handle)  # tells the relay service too
            self._lib.korvane_camera_free(handle)
        _receivers.pop(getattr(self, "_key", 0), None)

    @property
    def closed(self) -> bool:
        return not self._handle

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:  # the interpreter is shutting down
            pass

    # --- commands ------------------------------------------------------------
    def preset(self, number: int, op: PresetOp = PresetOp.GO) -> None:
        self._lib.korvane_preset(self._live(), number, int(op))

    def goto_preset(self, number: int) -> None:
        self.preset(number, PresetOp.GO)

    def set_preset(self, number: int) -> None:
        self.preset(number, PresetOp.SET)

    def clear_preset(self, number: int) -> None:
        self.preset(number, PresetOp.CLEAR)

    # --- ONVIF position and home --------------------------------------------
    @property
    def position(self) -> Optional[Position]:
        """Where an ONVIF camera points (GetStatus); None when it cannot tell."""
        pan, tilt, zoom, moving = ctypes.c_float(), ctypes.c_float(), ctypes.c_float(), ctypes.c_int32()
        if not self._lib.korvane_get_position(self._live(), ctypes.byref(pan), ctypes.byref(tilt),
                                              ctypes.byref(zoom), ctypes.byref(moving)):
            return None
        return Position(pan.value, tilt.value, zoom.value, bool(moving.value))

    def goto_home(self) -> bool:
        """ONVIF: go to the home position; False when the camera refused."""
        return bool(self._lib.korvane_goto_home(self._live()))

    def set_home(self) -> bool:
        """ONVIF: store the present position as home; False when refused."""
        return bool(self._lib.korvane_set_home(self._live()))

    # --- helpers -------------------------------------------------------------
    def _live(self):
        if not self._handle:
            raise ValueError("the camera is closed")
        return self._handle

    def _open_or_raise(self, what: str) -> None:
        if not self.open():
            raise KorvaneError(f"cannot open {what}")

    class _ClosedOnError:
        def __init__(self, cam):
            self.cam = cam

        def __enter__(self):
            return self.cam

        def __exit__(self, kind, value, tb):
            if kind is not None:
                self.cam.close()

    def _closed_on_error(self):
        return Camera._ClosedOnError(self)


def _command(name: str, doc: str):
    def run(self) -> None:
        getattr(self._lib, "korvane_" + name)(self._live())
    run.__name__ = name
    run.__doc__ = doc
    return run


for _name, _doc in (
    ("move_up", "Tilt up."), ("move_down", "Tilt down."), ("move_left", "Pan left."),
    ("move_right", "Pan right."), ("move_top_left", "Up and left."), ("move_top_right", "Up and right."),
    ("move_bottom_left", "Down and left."), ("move_bottom_right", "Down and right."),
    ("stop", "Stop moving, zooming and focusing."), ("zoom_plus", "Zoom in (tele)."),
    ("zoom_minus", "Zoom out (wide)."), ("focus_plus", "Focus far."), ("focus_minus", "Focus near."),
    ("iris_plus", "Open the iris."), ("iris_minus", "Close the iris."), ("open_track", "Start tracking."),
    ("close_track", "Stop tracking."), ("open_auto_zoom", "Auto-zoom on."), ("close_auto_zoom", "Auto-zoom off."),
    ("open_auto_write", "Auto-write on."), ("close_auto_write", "Auto-write off."),
    ("connect_test", "Send the connection-test frame; the result is shown as the library's message."),
):
    setattr(Camera, _name, _command(_name, _doc))
del _name, _doc
