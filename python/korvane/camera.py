"""The Camera class over the C interface."""

import atexit
import collections
import contextlib
import ctypes
import itertools
import os
import sys
import threading
import traceback
import weakref
from enum import IntEnum
from typing import (Any, Callable, Deque, Dict, FrozenSet, Iterator, List, NamedTuple, Optional, Tuple, Type, TypeVar,
                    Union)

from ._library import MESSAGE_FN, REPORT_FN, library


class Mode(IntEnum):
    """How the camera is reached."""
    SERIAL = 1
    NETWORK = 2
    TRACKSYSTEM = 3


class Protocol(IntEnum):
    """The frames the camera takes (by name: "pelco-d", "pelco-p", "visca")."""
    PELCO_D = 1
    PELCO_P = 2
    VISCA = 3


class DeviceType(IntEnum):
    """A network camera's kind (by name: "onvif", "relay1", "relay2", "relay4", "visca-ip")."""
    RELAY_1 = 1
    RELAY_2 = 2
    ONVIF = 3
    RELAY_4 = 4  # relayed, with target events
    VISCA_IP = 16  # VISCA over IP (UDP), driven in process


class TrackSystemType(IntEnum):
    """The tracking system's type."""
    TYPE_1 = 1


class PresetOp(IntEnum):
    """What preset() does with the number."""
    GO = 0
    SET = 1
    CLEAR = 2


class LinkState(IntEnum):
    """What the library last saw of a camera's link."""
    UNCHECKED = 0  # nothing seen yet, or a link that cannot tell (tracking system, serial line)
    OK = 1         # the ONVIF camera or the relay answered
    FAILED = 2     # a request failed or timed out, a send failed


class Message(IntEnum):
    """What a report says."""
    TARGET_APPEARS = 0x8400
    TARGET_DISAPPEARS = 0x8401
    CLOSEUP_READY = 0x8402
    MULTIPLE_TARGETS = 0x8403
    DOWN_PODIUM = 0x8404
    UP_PODIUM = 0x8405
    WRITE_START = 0x8406
    WRITE_STOP = 0x8407


class Report(NamedTuple):
    """One report from the camera or its tracking system: what it says (a
    Message, or the number when it is none of them) and its bytes."""
    message: Union[Message, int]
    data: bytes


class LinkStatus(NamedTuple):
    """Camera.link_state: the state and, when it failed, why."""
    state: LinkState
    reason: str


class KorvaneError(Exception):
    """A camera could not be set up or opened, or a command failed: the text
    is the library's reason (an ONVIF camera's own answer, a failed send, a
    failing line); outcome is the library's KORVANE_RESULT_* number (0 when
    the failure was found before the library was called)."""

    def __init__(self, message: str, outcome: int = 0):
        super().__init__(message)
        self.outcome = outcome


class Unsupported(KorvaneError):
    """The camera's link cannot send this operation: nothing would go out."""


# The library's KORVANE_RESULT_* numbers this package tells apart.
_RESULT_UNSUPPORTED = 2
_RESULT_UNCONFIRMED = 8


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
    choice). Raises KorvaneError when the probe could not be sent, ValueError
    for a timeout that is no number of seconds from 0 to 60."""
    if isinstance(timeout, bool) or not isinstance(timeout, (int, float)):
        raise TypeError(f"timeout must be a number of seconds, not {type(timeout).__name__}")
    if not 0 <= timeout <= 60:  # NaN and infinities fail this too
        raise ValueError(f"timeout must be 0 to 60 seconds, not {timeout!r}")
    lib = library()
    found = lib.korvane_discover(int(timeout * 1000), _check_text("interface", interface))
    if not found:
        raise MemoryError("korvane_discover")
    try:
        count = lib.korvane_discovery_count(found)
        error = lib.korvane_discovery_error(found).decode("utf-8", "replace")
        if count == 0 and error:
            raise KorvaneError(f"discovery failed: {error}")

        def text(field: str, i: int) -> str:
            return str(getattr(lib, "korvane_discovery_" + field)(found, i).decode("utf-8", "replace"))
        return [FoundCamera(text("address", i), text("scheme", i), text("host", i),
                            lib.korvane_discovery_port(found, i), text("name", i), text("hardware", i),
                            bool(lib.korvane_discovery_ptz(found, i)), text("endpoint", i))
                for i in range(count)]
    finally:
        lib.korvane_discovery_free(found)


ReportCallable = Callable[[Report], object]
MessageCallable = Callable[[str, str], object]
ProtocolLike = Union[Protocol, int, str]
DeviceTypeLike = Union[DeviceType, int, str]

# Commands by name, as the tool and the panel name them.
_MOVES = {"up": "move_up", "down": "move_down", "left": "move_left", "right": "move_right",
          "up-left": "move_top_left", "up-right": "move_top_right", "down-left": "move_bottom_left",
          "down-right": "move_bottom_right"}
DIRECTIONS = tuple(_MOVES)
_LENS = {"zoom": {"in": "zoom_plus", "out": "zoom_minus"}, "focus": {"far": "focus_plus", "near": "focus_minus"},
         "iris": {"open": "iris_plus", "close": "iris_minus"}}


def _choice(name: str, value: object, choices: Dict[str, str]) -> str:
    """The method a named command stands for: "up-left", "UP_LEFT" and "top-left" alike."""
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    key = value.strip().lower().replace("_", "-").replace("top", "up").replace("bottom", "down")
    if key not in choices:
        raise ValueError(f"{name} must be one of {', '.join(choices)}, not {value!r}")
    return choices[key]


# The library's operations (KORVANE_OP_*) by name.
OPERATIONS = ("move", "zoom", "focus", "iris", "preset", "track", "autozoom", "autowrite", "test", "position",
              "home")

_E = TypeVar("_E", bound=IntEnum)


def _check_int(name: str, value: object, low: int, high: int, why: str = "") -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{name} must be {low} to {high}{why}, not {value}")
    return int(value)


def _check_text(name: str, value: object, allow_none: bool = True) -> Optional[bytes]:
    if value is None and allow_none:
        return None
    if isinstance(value, bytes):
        return value
    if isinstance(value, os.PathLike):
        return os.fsencode(value)
    if isinstance(value, str):
        return value.encode("utf-8")
    raise TypeError(f"{name} must be a str, not {type(value).__name__}")


def _check_enum(name: str, value: object, kind: Type[_E], aliases: Dict[str, int]) -> _E:
    """An enum member from a member, its number, or its name ("visca",
    "pelco-d", "PELCO_D")."""
    if isinstance(value, kind):
        return value
    if isinstance(value, str):
        key = value.strip().lower().replace("_", "-")
        if key in aliases:
            return kind(aliases[key])
        raise ValueError(f"{name} must be one of {', '.join(sorted(aliases))}, not {value!r}")
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be a {kind.__name__} or its name, not {type(value).__name__}")
    try:
        return kind(value)
    except ValueError:
        raise ValueError(f"{name} must be one of {', '.join(str(int(m)) for m in kind)}, not {value}") from None


_PROTOCOL_NAMES = {"pelco-d": 1, "pelco-p": 2, "visca": 3}
_DEVICE_NAMES = {"relay1": 1, "relay-1": 1, "relay2": 2, "relay-2": 2, "onvif": 3, "relay4": 4, "relay-4": 4,
                 "visca-ip": 16}


def _protocol(value: object) -> Protocol:
    return _check_enum("protocol", value, Protocol, _PROTOCOL_NAMES)


def _device_type(value: object) -> DeviceType:
    return _check_enum("device_type", value, DeviceType, _DEVICE_NAMES)


# One C callback for every camera, alive as long as the module: a ctypes
# callback object collected while the library may still call it crashes the
# process. Each camera's context is a key into _receivers, dropped only after
# korvane_camera_free has returned (no report runs after that).
_keys = itertools.count(1)


class _Inbox:
    """Where a camera's reports go: its bounded queue for Camera.reports(),
    then its report callable. Holds nothing of the camera, so a camera the
    host lets go is still collected."""

    def __init__(self, size: int):
        self.callback: Optional[ReportCallable] = None
        self.asked = False  # reports wanted without a callable (reports=True, reports_on)
        self.queue: Deque[Report] = collections.deque(maxlen=size)
        self.dropped = 0
        self.closed = False
        self.changed = threading.Condition()

    @property
    def on(self) -> bool:
        return self.asked or self.callback is not None

    def __call__(self, report: Report) -> None:
        with self.changed:
            if self.on:
                # Full: the oldest goes, so a reader that fell behind reads the newest.
                self.dropped += len(self.queue) == self.queue.maxlen
                self.queue.append(report)
                self.changed.notify_all()
        callback = self.callback
        if callback is not None:
            callback(report)

    def get(self, timeout: Optional[float]) -> Optional[Report]:
        with self.changed:
            self.changed.wait_for(lambda: self.queue or self.closed, timeout)
            return self.queue.popleft() if self.queue else None

    def close(self) -> None:
        with self.changed:
            self.closed = True
            self.changed.notify_all()


_receivers: Dict[int, _Inbox] = {}


def _deliver(data: Any, length: int, message: int, ctx: Optional[int]) -> None:
    try:
        receiver = _receivers.get(ctx or 0)
        if receiver is None:
            return
        payload = ctypes.string_at(data, length) if data and length > 0 else b""
        code: Union[Message, int]
        try:
            code = Message(message)
        except ValueError:
            code = message
        receiver(Report(code, payload))
    except BaseException:  # noqa: B036 - the host's error must not reach the library's thread
        print("korvane: the report callable raised:", file=sys.stderr)
        traceback.print_exc()


_REPORT_CALLBACK = REPORT_FN(_deliver)

# Cameras still open when the interpreter exits are closed first, so that no
# report calls into an interpreter that is going away.
_open_cameras: "weakref.WeakSet[Camera]" = weakref.WeakSet()


@atexit.register
def _close_all() -> None:
    for cam in list(_open_cameras):
        cam.close()


# The message handler: like reports, one C callback for the module's life,
# the handler found by its key. The library guarantees that a replaced
# handler has finished once the setter returns; keys are dropped only when
# no other setter ran meanwhile (then the last one set is known to be ours).
_handlers: Dict[int, MessageCallable] = {}
_handler_lock = threading.Lock()
_setting = 0
_overlapped = False


def _show(title: bytes, text: bytes, ctx: Optional[int]) -> None:
    handler = _handlers.get(ctx or 0)
    if handler is None:
        return
    try:
        handler(title.decode("utf-8", "replace"), text.decode("utf-8", "replace"))
    except BaseException:  # noqa: B036
        traceback.print_exc()


_MESSAGE_CALLBACK = MESSAGE_FN(_show)


def set_message_handler(handler: Optional[MessageCallable]) -> None:
    """Show the library's messages (title, text) yourself; None restores the
    default (a line on standard error; a message box on Windows). The handler
    runs on the thread that caused the message. Once this returns, the
    replaced handler runs no more, except a call on this same thread: a
    handler may set the handler."""
    global _setting, _overlapped
    if handler is not None and not callable(handler):
        raise TypeError(f"handler must be callable or None, not {type(handler).__name__}")
    key = next(_keys)
    with _handler_lock:
        _setting += 1
        _overlapped = _overlapped or _setting > 1
        if handler is not None:
            _handlers[key] = handler
    try:
        if handler is None:
            library().korvane_set_message_handler(ctypes.cast(0, MESSAGE_FN), None)
        else:
            library().korvane_set_message_handler(_MESSAGE_CALLBACK, key)
    finally:
        with _handler_lock:
            _setting -= 1
            if _setting == 0:
                if not _overlapped:
                    for old in [k for k in _handlers if k != key]:
                        del _handlers[old]
                _overlapped = False


def library_version() -> str:
    """The loaded library's version text."""
    return str(library().korvane_version().decode())


def link_why_cannot(operation: str, mode: Mode, protocol: ProtocolLike = Protocol.PELCO_D,
                    device_type: DeviceTypeLike = DeviceType.RELAY_1, system_type: int = 1) -> Optional[str]:
    """Why a link so described would send nothing for the operation ("focus",
    ...), or None when it sends: the library's table, without a camera."""
    why = ctypes.create_string_buffer(256)
    if library().korvane_link_why_cannot(int(mode), int(_protocol(protocol)), int(_device_type(device_type)),
                                         system_type, _operation(operation), why, len(why)):
        return why.value.decode("utf-8", "replace")
    return None


def _operation(name: str) -> int:
    if not isinstance(name, str):
        raise TypeError(f"operation must be a str, not {type(name).__name__}")
    if name not in OPERATIONS:
        raise ValueError(f"operation must be one of {', '.join(OPERATIONS)}, not {name!r}")
    return OPERATIONS.index(name) + 1


class Camera:
    """One camera. Use the factories, which set it up, open it and raise
    KorvaneError (naming the library's cause) when that fails:

    - Camera.serial(device, address=1, baud=9600, data_bits=8, protocol="pelco-d")
    - Camera.tracking(host, port, address=1, protocol="pelco-d", system_type=1)
    - Camera.onvif(host, port=80, user="", password="")
    - Camera.relay(host, port, device_type="relay1", address=1, protocol="pelco-d")

    or configure one step by step like the C++ class. Arguments are checked
    (ValueError for a value out of range, TypeError for a wrong type); an
    operation the camera's link cannot send raises Unsupported. Calls may
    come from several threads and run side by side, as the library allows (a
    stop is not held up by a slow position query); close() waits for those
    running. Closing releases the camera; it is closed when collected, too.

    Commands by name: move("left") (DIRECTIONS), zoom("in"), focus("far"),
    iris("open"), beside move_left(), zoom_plus() and the rest. Reports come
    to on_report on a library thread, and with reports=True (or reports_on)
    also to a queue read by iterating reports(timeout).
    """

    def __init__(self, mode: Union[Mode, int], report_queue: int = 1000):
        """A camera of this mode, not set up yet; report_queue bounds the
        queue reports() reads (the oldest report goes when it is full)."""
        if isinstance(mode, bool) or not isinstance(mode, int):
            raise TypeError(f"mode must be a Mode, not {type(mode).__name__}")
        self._inbox = _Inbox(_check_int("report_queue", report_queue, 1, 10_000_000))
        # The lock guards the handle's life, not each call: the library lets
        # calls of one camera run side by side (a stop while a slow position
        # query runs), so a call only counts itself as a use of the handle,
        # and close() frees it once the uses running have ended.
        self._lock = threading.RLock()
        self._idle = threading.Condition(self._lock)  # signalled as each use ends
        self._users = 0
        self._mine = threading.local()  # this thread's uses: a close inside one does not wait for itself
        self._orphan: Optional[int] = None  # closed inside this thread's use: freed as the last use ends
        self._lib = library()
        self._handle: Optional[int] = self._lib.korvane_camera_new(int(mode))
        if not self._handle:
            raise MemoryError("korvane_camera_new")
        self._key = next(_keys)
        _receivers[self._key] = self._inbox
        _open_cameras.add(self)
        self.mode: Union[Mode, int] = Mode(mode) if mode in Mode._value2member_map_ else mode
        self._where = ""
        self._address = 0

    # --- factories -----------------------------------------------------------
    @classmethod
    def serial(cls, device: Union[str, "os.PathLike[str]"], address: int = 1, baud: int = 9600,
               data_bits: int = 8, protocol: ProtocolLike = Protocol.PELCO_D, speed: Optional[int] = None,
               on_report: Optional[ReportCallable] = None, reports: bool = False,
               report_queue: int = 1000) -> "Camera":
        """A camera on a serial line (RS-485/RS-232) at its bus address, opened.
        With on_report or reports=True, opening sends presets 88 and 100 (the
        tracker's switch for its reports) and reports() yields them."""
        _check_text("device", device, allow_none=False)
        protocol = _protocol(protocol)
        cam = cls(Mode.SERIAL, report_queue)
        with cam._closed_on_error():
            cam.set_device_address(address)
            if speed is not None:
                cam.set_speed(speed)
            if not cam.set_comm_device(device, baud, data_bits, protocol):
                raise KorvaneError(cam.link_state[1] or f"cannot open serial device {device!r}")
            cam.on_report = on_report
            if reports:
                cam.reports_on = True
            cam._open_or_raise(f"serial device {device!r}")
        return cam

    @classmethod
    def tracking(cls, host: str, port: int, address: int = 1, protocol: ProtocolLike = Protocol.PELCO_D,
                 system_type: Union[TrackSystemType, int] = TrackSystemType.TYPE_1, speed: Optional[int] = None,
                 on_report: Optional[ReportCallable] = None, reports: bool = False,
                 report_queue: int = 1000) -> "Camera":
        """A camera reached through the tracking system at host:port (UDP),
        opened; with reports=True, reports() yields its reports."""
        cam = cls(Mode.TRACKSYSTEM, report_queue)
        with cam._closed_on_error():
            cam.set_device_address(address)
            if speed is not None:
                cam.set_speed(speed)
            cam.set_system_type(system_type)
            cam.set_system_param(protocol, host, port)
            cam.on_report = on_report
            if reports:
                cam.reports_on = True
            cam._open_or_raise(f"tracking system {host}:{port}")
        return cam

    @classmethod
    def onvif(cls, host: str, port: int = 80, user: str = "", password: str = "",
              speed: Optional[int] = None, profile: Optional[str] = None,
              tls_fingerprint: Optional[str] = None) -> "Camera":
        """An ONVIF camera, opened. host: an IP address, or "https://IP[:port]"
        (port 443 is HTTPS too); tls_fingerprint pins a self-signed certificate
        (SHA-256, hex); profile names the media profile (default: the first
        with PTZ)."""
        cam = cls(Mode.NETWORK)
        with cam._closed_on_error():
            if speed is not None:
                cam.set_speed(speed)
            cam.set_device_type(DeviceType.ONVIF)
            cam.set_onvif_profile(profile)
            cam.set_tls_fingerprint(tls_fingerprint)
            cam.set_socket_param(Protocol.PELCO_D, host, port, user=user, password=password)
            cam._open_or_raise(f"ONVIF camera {host}:{port}")
        return cam

    @classmethod
    def visca_ip(cls, host: str, port: int = 52381, speed: Optional[int] = None) -> "Camera":
        """A VISCA-over-IP camera (UDP), opened: RESET sent and answered. Each
        command waits for the camera's answer; an error reply or silence
        makes it fail with the reason (last_error)."""
        cam = cls(Mode.NETWORK)
        with cam._closed_on_error():
            if speed is not None:
                cam.set_speed(speed)
            cam.set_device_type(DeviceType.VISCA_IP)
            cam.set_socket_param(Protocol.VISCA, host, port)
            cam._open_or_raise(f"VISCA-over-IP camera {host}:{port}")
        return cam

    @classmethod
    def relay(cls, host: str, port: int, device_type: DeviceTypeLike = DeviceType.RELAY_1, address: int = 1,
              protocol: ProtocolLike = Protocol.PELCO_D, user: str = "", password: str = "", value4: int = 0,
              text7: str = "", speed: Optional[int] = None,
              on_report: Optional[ReportCallable] = None, reports: bool = False,
              report_queue: int = 1000) -> "Camera":
        """A device behind the relay service on this machine, opened; with
        reports=True, reports() yields its target events (relay4)."""
        device_type = _device_type(device_type)
        if device_type is DeviceType.ONVIF:
            raise ValueError("device_type must be a relayed type; use Camera.onvif for an ONVIF camera")
        if device_type is DeviceType.VISCA_IP:
            raise ValueError("device_type must be a relayed type; use Camera.visca_ip for a VISCA-over-IP camera")
        cam = cls(Mode.NETWORK, report_queue)
        with cam._closed_on_error():
            cam.set_device_address(address)
            if speed is not None:
                cam.set_speed(speed)
            cam.set_device_type(device_type)
            cam.set_socket_param(protocol, host, port, value4, user, password, text7)
            cam.on_report = on_report
            if reports:
                cam.reports_on = True
            cam._open_or_raise(f"{host}:{port} through the relay service")
        return cam

    # --- configuration -------------------------------------------------------
    def set_device_address(self, address: int) -> None:
        """The camera's bus address, 0 to 255 (VISCA cameras 1 to 7)."""
        address = _check_int("address", address, 0, 255, " (one byte of the frame)")
        with self._using():
            self._lib.korvane_set_device_address(self._live(), address)
            self._address = address

    def set_horizontal_speed(self, speed: int) -> None:
        """Pan speed, 0 to 63."""
        speed = _check_int("speed", speed, 0, 63)
        with self._using():
            self._lib.korvane_set_horizontal_speed(self._live(), speed)

    def set_vertical_speed(self, speed: int) -> None:
        """Tilt speed, 0 to 63."""
        speed = _check_int("speed", speed, 0, 63)
        with self._using():
            self._lib.korvane_set_vertical_speed(self._live(), speed)

    def set_speed(self, pan: int, tilt: Optional[int] = None) -> None:
        """Pan and tilt speeds, 0 to 63 (tilt defaults to pan)."""
        self.set_horizontal_speed(pan)
        self.set_vertical_speed(pan if tilt is None else tilt)

    def set_comm_device(self, name: Union[str, "os.PathLike[str]"], baud: int = 9600, data_bits: int = 8,
                        protocol: ProtocolLike = Protocol.PELCO_D) -> bool:
        """Serial mode: opens (or shares) the device. False when it cannot be
        had; link_state then says why."""
        device = _check_text("name", name, allow_none=False)
        baud = _check_int("baud", baud, 1, 4_000_000)
        data_bits = _check_int("data_bits", data_bits, 5, 8)
        protocol = _protocol(protocol)
        with self._using():
            self._where = f"{protocol.name.lower().replace('_', '-')} on serial {os.fsdecode(device or b'')}"
            return bool(self._lib.korvane_set_comm_device(self._live(), device, baud, data_bits, int(protocol)))

    def set_device_type(self, device_type: DeviceTypeLike) -> None:
        """Network mode: "onvif", or a relayed type ("relay1", "relay2", "relay4")."""
        device_type = _device_type(device_type)
        with self._using():
            self._lib.korvane_set_device_type(self._live(), int(device_type))

    def set_socket_param(self, protocol: ProtocolLike, ip: str, port: int, value4: int = 0, user: str = "",
                         password: str = "", text7: str = "") -> None:
        """Network mode: the camera's address, port (1 to 65535) and credentials."""
        protocol = _protocol(protocol)
        port = _check_int("port", port, 1, 65535)
        value4 = _check_int("value4", value4, 0, 0xFFFFFFFF)
        texts = [_check_text(n, v) for n, v in (("ip", ip), ("user", user), ("password", password),
                                                 ("text7", text7))]
        with self._using():
            self._where = f"{ip}:{port}"
            self._lib.korvane_set_socket_param(self._live(), int(protocol), texts[0], port, value4, texts[1],
                                               texts[2], texts[3])

    def set_system_type(self, system_type: Union[TrackSystemType, int]) -> None:
        """Tracking mode: the tracking system's type (1 sends its own track packets)."""
        system_type = _check_int("system_type", system_type, 0, 255)
        with self._using():
            self._lib.korvane_set_system_type(self._live(), system_type)

    def set_onvif_profile(self, token: Optional[str]) -> None:
        """ONVIF, before set_socket_param: the media profile to drive (None: the first with PTZ)."""
        text = _check_text("token", token)
        with self._using():
            self._lib.korvane_set_onvif_profile(self._live(), text)

    def set_tls_fingerprint(self, sha256: Optional[str]) -> None:
        """ONVIF, before set_socket_param: the certificate an HTTPS camera must show."""
        text = _check_text("sha256", sha256)
        with self._using():
            self._lib.korvane_set_tls_fingerprint(self._live(), text)

    def set_move_timeout(self, milliseconds: int) -> None:
        """ONVIF: moves end by themselves this long after they were sent (0: never)."""
        milliseconds = _check_int("move_timeout", milliseconds, 0, 0xFFFFFFFF, " (milliseconds)")
        with self._using():
            self._lib.korvane_set_move_timeout(self._live(), milliseconds)

    def set_system_param(self, protocol: ProtocolLike, ip: str, port: int) -> None:
        """Tracking mode: the tracking system's IPv4 address and UDP port (1 to 65535)."""
        protocol = _protocol(protocol)
        port = _check_int("port", port, 1, 65535)
        host = _check_text("ip", ip, allow_none=False)
        with self._using():
            self._where = f"tracking system {ip}:{port}"
            self._lib.korvane_set_system_param(self._live(), int(protocol), host, port)

    @property
    def on_report(self) -> Optional[ReportCallable]:
        """Called with a Report on one of the library's threads; a callable
        switches reports on (see reports_on), None switches them off again
        unless they were asked for without one. Set before open(). Exceptions
        it raises are printed; the report still reaches reports()."""
        return self._inbox.callback

    @on_report.setter
    def on_report(self, receiver: Optional[ReportCallable]) -> None:
        if receiver is not None and not callable(receiver):
            raise TypeError(f"on_report must be callable or None, not {type(receiver).__name__}")
        with self._lock:
            self._live()
            self._inbox.callback = receiver
            self._register()

    @property
    def reports_on(self) -> bool:
        """Whether the library hands this camera's reports over, to on_report
        and to the queue reports() reads. Set True before open(): a serial
        camera then sends presets 88 and 100 as it opens, the tracker's switch
        for its reports. False switches both off."""
        return self._inbox.on

    @reports_on.setter
    def reports_on(self, on: bool) -> None:
        if not isinstance(on, bool):
            raise TypeError(f"reports_on must be a bool, not {type(on).__name__}")
        with self._lock:
            self._live()
            self._inbox.asked = on
            if not on:
                self._inbox.callback = None
            self._register()

    def reports(self, timeout: Optional[float] = None) -> Iterator[Report]:
        """The camera's reports, oldest first, as they arrive: iterating waits
        for the next one. Ends once timeout seconds pass without a report
        (None: never), or once the camera is closed and the queue is empty.
        The queue is fed beside on_report and holds the last report_queue
        reports; when it is full the oldest goes (reports_dropped counts
        them). Raises KorvaneError when reports are off (see reports_on)."""
        if timeout is not None and (isinstance(timeout, bool) or not isinstance(timeout, (int, float))):
            raise TypeError(f"timeout must be a number of seconds or None, not {type(timeout).__name__}")
        if not self._inbox.on:
            raise KorvaneError(f"reports are off for {self!r}: open it with reports=True, or set reports_on "
                               "before open()")
        return self._read_reports(timeout)

    def _read_reports(self, timeout: Optional[float]) -> Iterator[Report]:
        while True:
            report = self._inbox.get(timeout)
            if report is None:
                return
            yield report

    @property
    def reports_dropped(self) -> int:
        """How many reports the full queue let go, oldest first, unread."""
        return self._inbox.dropped

    def _register(self) -> None:
        if self.reports_on:
            self._lib.korvane_set_recv_notify(self._live(), _REPORT_CALLBACK, self._key)
        else:
            self._lib.korvane_set_recv_notify(self._live(), ctypes.cast(0, REPORT_FN), None)

    # --- what the link can do, and what it last did ----------------------------
    def can(self, operation: str) -> bool:
        """Whether the link, as set up now, sends the operation ("move",
        "zoom", "focus", "iris", "preset", "track", "autozoom", "autowrite",
        "test", "position", "home")."""
        op = _operation(operation)
        with self._using():
            return bool(self._lib.korvane_can(self._live(), op))

    @property
    def supported(self) -> FrozenSet[str]:
        """The operations the link sends."""
        return frozenset(name for name in OPERATIONS if self.can(name))

    @property
    def preset_range(self) -> Optional[Tuple[int, int]]:
        """(first, last) preset numbers the link carries; None when it has none."""
        first, last = ctypes.c_int32(), ctypes.c_int32()
        with self._using():
            if not self._lib.korvane_preset_range(self._live(), ctypes.byref(first), ctypes.byref(last)):
                return None
        return first.value, last.value

    @property
    def stored_presets(self) -> Optional[List[int]]:
        """The preset numbers the camera holds, ascending, as the library knows
        them (an ONVIF camera's, read at open and kept by preset() since);
        None when they are not known (a frame link cannot ask)."""
        numbers = (ctypes.c_int32 * 0)()
        with self._using():
            while True:  # asked again with room for them all, should more be stored meanwhile
                count = self._lib.korvane_stored_presets(self._live(), numbers, len(numbers))
                if count <= len(numbers):
                    break
                numbers = (ctypes.c_int32 * count)()
        return None if count < 0 else list(numbers[:count])

    @property
    def link_state(self) -> LinkStatus:
        """LinkStatus(state, reason): what the library last saw of the link;
        state, reason = cam.link_state unpacks it."""
        reason = ctypes.create_string_buffer(512)
        with self._using():
            state = int(self._lib.korvane_link_state(self._live(), reason, len(reason)))
        return LinkStatus(LinkState(state), reason.value.decode("utf-8", "replace"))

    # --- link ----------------------------------------------------------------
    def open(self) -> bool:
        """Opens the link; False on failure (link_state says why, where the library can see it)."""
        with self._using():
            return bool(self._lib.korvane_open(self._live()))

    def close(self) -> None:
        """Closes the link and releases the camera; no report arrives after
        this returns. Waits for a command running on another thread. Calling
        it again does nothing."""
        lock = getattr(self, "_lock", None)
        if lock is None:
            return
        with lock:  # none starts after this; those running on other threads end first
            handle, self._handle = self._handle, None
            while self._users > getattr(self._mine, "count", 0):
                self._idle.wait()
            if handle and self._users:  # closed from inside a call of this thread
                self._orphan, handle = handle, None
        if handle:
            self._release(handle)
        _receivers.pop(getattr(self, "_key", 0), None)
        inbox = getattr(self, "_inbox", None)
        if inbox is not None:
            inbox.close()  # a reader of reports() ends once the queue is empty

    @property
    def closed(self) -> bool:
        """True once close() has run."""
        return not self._handle

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # the interpreter is shutting down
            pass

    def __repr__(self) -> str:
        mode = self.mode.name.lower() if isinstance(self.mode, Mode) else f"mode {self.mode}"
        state = "closed" if self.closed else "open"
        where = f" {self._where}" if self._where else ""
        return f"<korvane.Camera {mode}{where} address {self._address} {state}>"

    # --- commands ------------------------------------------------------------
    def move(self, direction: str) -> None:
        """Move until stop(): "up", "down", "left", "right", "up-left",
        "up-right", "down-left" or "down-right" (korvane.DIRECTIONS)."""
        self._send("move", _choice("direction", direction, _MOVES))

    def zoom(self, direction: str) -> None:
        """Zoom "in" (tele) or "out" (wide) until stop()."""
        self._send("zoom", _choice("direction", direction, _LENS["zoom"]))

    def focus(self, direction: str) -> None:
        """Focus "far" or "near" until stop()."""
        self._send("focus", _choice("direction", direction, _LENS["focus"]))

    def iris(self, direction: str) -> None:
        """Open ("open") or close ("close") the iris."""
        self._send("iris", _choice("direction", direction, _LENS["iris"]))

    def move_up(self) -> None:
        """Tilt up until stop()."""
        self._send("move", "move_up")

    def move_down(self) -> None:
        """Tilt down until stop()."""
        self._send("move", "move_down")

    def move_left(self) -> None:
        """Pan left until stop()."""
        self._send("move", "move_left")

    def move_right(self) -> None:
        """Pan right until stop()."""
        self._send("move", "move_right")

    def move_top_left(self) -> None:
        """Up and left until stop()."""
        self._send("move", "move_top_left")

    def move_top_right(self) -> None:
        """Up and right until stop()."""
        self._send("move", "move_top_right")

    def move_bottom_left(self) -> None:
        """Down and left until stop()."""
        self._send("move", "move_bottom_left")

    def move_bottom_right(self) -> None:
        """Down and right until stop()."""
        self._send("move", "move_bottom_right")

    def stop(self) -> None:
        """Stop moving, zooming and focusing."""
        self._send("move", "stop")

    def zoom_plus(self) -> None:
        """Zoom in (tele) until stop()."""
        self._send("zoom", "zoom_plus")

    def zoom_minus(self) -> None:
        """Zoom out (wide) until stop()."""
        self._send("zoom", "zoom_minus")

    def focus_plus(self) -> None:
        """Focus far until stop()."""
        self._send("focus", "focus_plus")

    def focus_minus(self) -> None:
        """Focus near until stop()."""
        self._send("focus", "focus_minus")

    def iris_plus(self) -> None:
        """Open the iris."""
        self._send("iris", "iris_plus")

    def iris_minus(self) -> None:
        """Close the iris."""
        self._send("iris", "iris_minus")

    def open_track(self) -> None:
        """Start tracking the presenter."""
        self._send("track", "open_track")

    def close_track(self) -> None:
        """Stop tracking."""
        self._send("track", "close_track")

    def open_auto_zoom(self) -> None:
        """Auto-zoom on."""
        self._send("autozoom", "open_auto_zoom")

    def close_auto_zoom(self) -> None:
        """Auto-zoom off."""
        self._send("autozoom", "close_auto_zoom")

    def open_auto_write(self) -> None:
        """Auto-write on."""
        self._send("autowrite", "open_auto_write")

    def close_auto_write(self) -> None:
        """Auto-write off."""
        self._send("autowrite", "close_auto_write")

    def connect_test(self) -> str:
        """Test the link: "answered" when the camera answered (ONVIF),
        "unconfirmed" when the test went out on a link that cannot answer (a
        serial line, the tracking system, the relay). Raises KorvaneError with
        the reason when it failed. The outcome is also shown as the library's
        message (see set_message_handler) and link_state follows it."""
        outcome = self._send("test", "connect_test")
        return "unconfirmed" if outcome == _RESULT_UNCONFIRMED else "answered"

    def preset(self, number: int, op: Union[PresetOp, int] = PresetOp.GO) -> None:
        """Go to, set or clear a preset; the number must be in preset_range."""
        number = _check_int("preset", number, -2**31, 2**31 - 1)
        op = _check_enum("op", op, PresetOp, {"go": 0, "set": 1, "clear": 2})
        with self._using():
            self._require("preset", "preset")
            first, last = self.preset_range or (0, -1)
            _check_int("preset", number, first, last, " on this link")
            self._result("preset", self._lib.korvane_preset(self._live(), number, int(op)))

    def goto_preset(self, number: int) -> None:
        """Go to a preset (ONVIF: a number never stored stores the current view first)."""
        self.preset(number, PresetOp.GO)

    def set_preset(self, number: int) -> None:
        """Store the current view under the number."""
        self.preset(number, PresetOp.SET)

    def clear_preset(self, number: int) -> None:
        """Clear the number."""
        self.preset(number, PresetOp.CLEAR)

    # --- ONVIF position and home --------------------------------------------
    @property
    def position(self) -> Optional[Position]:
        """Where an ONVIF camera points (GetStatus); None when it cannot tell."""
        pan, tilt, zoom, moving = ctypes.c_float(), ctypes.c_float(), ctypes.c_float(), ctypes.c_int32()
        with self._using():
            self._require("position", "get_position")
            if not self._lib.korvane_get_position(self._live(), ctypes.byref(pan), ctypes.byref(tilt),
                                                  ctypes.byref(zoom), ctypes.byref(moving)):
                return None
        return Position(pan.value, tilt.value, zoom.value, bool(moving.value))

    def goto_home(self) -> bool:
        """ONVIF: go to the home position; False when the camera refused."""
        with self._using():
            self._require("home", "goto_home")
            return bool(self._lib.korvane_goto_home(self._live()))

    def set_home(self) -> bool:
        """ONVIF: store the present position as home; False when refused."""
        with self._using():
            self._require("home", "set_home")
            return bool(self._lib.korvane_set_home(self._live()))

    # --- helpers -------------------------------------------------------------
    @contextlib.contextmanager
    def _using(self) -> Iterator[int]:
        """The handle, kept alive while a call runs on it."""
        with self._lock:
            handle = self._live()
            self._users += 1
            self._mine.count = getattr(self._mine, "count", 0) + 1
        try:
            yield handle
        finally:
            with self._lock:
                self._users -= 1
                self._mine.count -= 1
                orphan, self._orphan = (self._orphan, None) if not self._users else (None, self._orphan)
                self._idle.notify_all()
            if orphan:
                self._release(orphan)

    def _release(self, handle: int) -> None:
        # Outside the lock: a report running now may call this camera and
        # must find it closed rather than wait.
        self._lib.korvane_close(handle)  # tells the relay service too
        self._lib.korvane_camera_free(handle)

    def _live(self) -> int:
        handle = self._handle
        if not handle:
            raise ValueError("the camera is closed")
        return handle

    def _require(self, operation: str, method: str) -> None:
        why = ctypes.create_string_buffer(256)
        if self._lib.korvane_why_cannot(self._live(), _operation(operation), why, len(why)):
            raise Unsupported(f"{method}: nothing would be sent to {self!r}: {why.value.decode('utf-8', 'replace')}")

    def _send(self, operation: str, method: str) -> int:
        with self._using():
            self._require(operation, method)
            return self._result(method, getattr(self._lib, "korvane_" + method)(self._live()))

    def _result(self, method: str, value: int) -> int:
        """The outcome of the library call that just returned value on this
        thread; raises with the library's reason when it failed (0)."""
        text = ctypes.create_string_buffer(512)
        outcome = int(self._lib.korvane_last_error(text, len(text)))
        if value:
            return outcome
        why = text.value.decode("utf-8", "replace") or "failed"
        kind = Unsupported if outcome == _RESULT_UNSUPPORTED else KorvaneError
        raise kind(f"{method}: {why} ({self!r})", outcome)

    def _open_or_raise(self, what: str) -> None:
        text = ctypes.create_string_buffer(512)
        with self._using():
            opened = self._lib.korvane_open(self._live())
            self._lib.korvane_last_error(text, len(text))  # this thread's, right after the call
        if not opened:
            reason = text.value.decode("utf-8", "replace") or self.link_state[1]
            raise KorvaneError(f"cannot open {what}" + (f": {reason}" if reason else ""))

    class _ClosedOnError:
        def __init__(self, cam: "Camera"):
            self.cam = cam

        def __enter__(self) -> "Camera":
            return self.cam

        def __exit__(self, kind: Optional[type], value: object, tb: object) -> None:
            if kind is not None:
                self.cam.close()

    def _closed_on_error(self) -> "Camera._ClosedOnError":
        return Camera._ClosedOnError(self)
