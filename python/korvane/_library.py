"""Finding and loading the Korvanu library, and the C functions' signatures."""

import ctypes
import ctypes.util
import os
import sys
import sysconfig
import threading
from typing import Any, List, Optional, Tuple

if sys.platform == "win32":
    _FILE_NAMES = ("Korvanu.dll",)
elif sys.platform == "darwin":
    _FILE_NAMES = ("libKorvanu.dylib",)
else:
    _FILE_NAMES = ("libKorvanu.so", "libKorvanu.so.0")

# Every callback is __cdecl on Windows: CFUNCTYPE everywhere.
REPORT_FN = ctypes.CFUNCTYPE(None, ctypes.POINTER(ctypes.c_ubyte), ctypes.c_int32, ctypes.c_uint32,
                             ctypes.c_void_p)
MESSAGE_FN = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_void_p)


class LibraryNotFoundError(OSError):
    """The Korvanu library could not be found or loaded."""


_HANDLE = ctypes.c_void_p
_I32, _U32, _U8, _TEXT = ctypes.c_int32, ctypes.c_uint32, ctypes.c_uint8, ctypes.c_char_p

_COMMANDS = (
    "move_up", "move_down", "move_left", "move_right", "move_top_left", "move_top_right",
    "move_bottom_left", "move_bottom_right", "stop", "zoom_plus", "zoom_minus", "focus_plus",
    "focus_minus", "iris_plus", "iris_minus", "open_track", "close_track", "open_auto_zoom",
    "close_auto_zoom", "open_auto_write", "close_auto_write", "connect_test",
)

_SIGNATURES = {
    "korvane_version": (_TEXT, []),
    "korvane_set_message_handler": (None, [MESSAGE_FN, ctypes.c_void_p]),
    "korvane_camera_new": (_HANDLE, [_I32]),
    "korvane_camera_free": (None, [_HANDLE]),
    "korvane_set_device_address": (None, [_HANDLE, _U32]),
    "korvane_set_horizontal_speed": (None, [_HANDLE, _I32]),
    "korvane_set_vertical_speed": (None, [_HANDLE, _I32]),
    "korvane_set_comm_device": (_I32, [_HANDLE, _TEXT, _U32, _U8, _I32]),
    "korvane_set_device_type": (None, [_HANDLE, _I32]),
    "korvane_set_socket_param": (None, [_HANDLE, _I32, _TEXT, _U32, _U32, _TEXT, _TEXT, _TEXT]),
    "korvane_set_system_type": (None, [_HANDLE, _I32]),
    "korvane_set_system_param": (None, [_HANDLE, _I32, _TEXT, _U32]),
    "korvane_set_recv_notify": (None, [_HANDLE, REPORT_FN, ctypes.c_void_p]),
    "korvane_open": (_I32, [_HANDLE]),
    "korvane_close": (None, [_HANDLE]),
    "korvane_preset": (_I32, [_HANDLE, _I32, _U8]),
    "korvane_can": (_I32, [_HANDLE, _I32]),
    "korvane_why_cannot": (_I32, [_HANDLE, _I32, ctypes.c_char_p, _I32]),
    "korvane_preset_range": (_I32, [_HANDLE, ctypes.POINTER(_I32), ctypes.POINTER(_I32)]),
    "korvane_link_why_cannot": (_I32, [_I32, _I32, _I32, _I32, _I32, ctypes.c_char_p, _I32]),
    "korvane_stored_presets": (_I32, [_HANDLE, ctypes.POINTER(_I32), _I32]),
    "korvane_link_preset_range": (_I32, [_I32, _I32, _I32, ctypes.POINTER(_I32), ctypes.POINTER(_I32)]),
    "korvane_operation_name": (_TEXT, [_I32]),
    "korvane_link_state": (_I32, [_HANDLE, ctypes.c_char_p, _I32]),
    "korvane_last_error": (_I32, [ctypes.c_char_p, _I32]),
    # ONVIF position, home, profile, certificate; discovery
    "korvane_get_position": (_I32, [_HANDLE, ctypes.POINTER(ctypes.c_float), ctypes.POINTER(ctypes.c_float),
                                    ctypes.POINTER(ctypes.c_float), ctypes.POINTER(_I32)]),
    "korvane_goto_home": (_I32, [_HANDLE]),
    "korvane_set_home": (_I32, [_HANDLE]),
    "korvane_set_onvif_profile": (None, [_HANDLE, _TEXT]),
    "korvane_set_tls_fingerprint": (None, [_HANDLE, _TEXT]),
    "korvane_set_move_timeout": (None, [_HANDLE, _U32]),
    "korvane_discover": (_HANDLE, [_I32, _TEXT]),
    "korvane_discovery_count": (_I32, [_HANDLE]),
    "korvane_discovery_error": (_TEXT, [_HANDLE]),
    "korvane_discovery_port": (_I32, [_HANDLE, _I32]),
    "korvane_discovery_ptz": (_I32, [_HANDLE, _I32]),
    "korvane_discovery_free": (None, [_HANDLE]),
}
_SIGNATURES.update({"korvane_discovery_" + field: (_TEXT, [_HANDLE, _I32])
                    for field in ("address", "scheme", "host", "name", "hardware", "endpoint")})
_SIGNATURES.update({"korvane_" + name: (_I32, [_HANDLE]) for name in _COMMANDS})

_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def _prefix_folders(here: str) -> List[str]:
    """The library folders of the prefix an installed package lies in:
    PREFIX/lib/python3/dist-packages/korvane (Debian) or
    PREFIX/lib/pythonX.Y/site-packages/korvane finds PREFIX/lib/MULTIARCH,
    PREFIX/lib and PREFIX/lib64, where the same install put the library."""
    site = os.path.dirname(here)
    python = os.path.dirname(site)
    if os.path.basename(site) not in ("dist-packages", "site-packages") or \
            not os.path.basename(python).startswith("python"):
        return []
    prefix = os.path.dirname(os.path.dirname(python))
    multiarch = sysconfig.get_config_var("MULTIARCH")
    folders = [os.path.dirname(python)]
    folders += [os.path.join(prefix, "lib", multiarch)] if multiarch else []
    folders += [os.path.join(prefix, "lib"), os.path.join(prefix, "lib64")]
    return list(dict.fromkeys(folders))


def _candidates() -> List[Tuple[str, str]]:
    """(where, path) pairs in the order they are tried."""
    configured = os.environ.get("KORVANE_LIBRARY")
    if configured:
        if os.path.isdir(configured):
            return [("KORVANE_LIBRARY", os.path.join(configured, n)) for n in _FILE_NAMES]
        return [("KORVANE_LIBRARY", configured)]
    here = os.path.dirname(os.path.abspath(__file__))
    found = [("beside the package", os.path.join(here, n)) for n in _FILE_NAMES
             if os.path.exists(os.path.join(here, n))]
    found += [("in the package's prefix", os.path.join(folder, n)) for folder in _prefix_folders(here)
              for n in _FILE_NAMES if os.path.exists(os.path.join(folder, n))]
    system = ctypes.util.find_library("Korvanu")
    found += [("system path", name) for name in ((system,) if system else ()) + _FILE_NAMES]
    return found


def _load() -> ctypes.CDLL:
    failures = []
    for where, path in _candidates():
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            failures.append(f"  {where}: {path}: {error}")
    configured = os.environ.get("KORVANE_LIBRARY")
    hint = ("KORVANE_LIBRARY is set but does not name a loadable library"
            if configured else "looked beside the package, in its install prefix and on the system path")
    raise LibraryNotFoundError(
        f"Korvanu library ({_FILE_NAMES[0]}) not found: {hint}.\n" + "\n".join(failures) +
        f"\nPoint at it with KORVANE_LIBRARY=/path/to/{_FILE_NAMES[0]} (or its folder), copy it beside "
        f"the korvane package, or install it where the system finds libraries.")


def library_path() -> str:
    """The file the Korvanu library was loaded from (loading it if need be)."""
    return str(library()._name)


def library() -> Any:
    """The loaded library with every function's signature declared; loaded once."""
    global _library
    with _lock:
        if _library is None:
            loaded = _load()
            for name, (restype, argtypes) in _SIGNATURES.items():
                function = getattr(loaded, name)
                function.restype = restype
                function.argtypes = argtypes
            _library = loaded
        return _library
