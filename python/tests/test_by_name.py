"""What Python users expect beside the C names: commands by name, reports
as an iterator over a queue, the link state as a named tuple, an installed
package that finds its library, docstrings for pydoc."""

import inspect
import os
import pydoc
import shutil
import subprocess
import sys
import sysconfig
import threading

import pytest

import korvane
from korvane import Camera, LinkState, Message

from conftest import WAIT, Inbox

BY_NAME = [("move", "up", "move_up"), ("move", "down", "move_down"), ("move", "left", "move_left"),
           ("move", "right", "move_right"), ("move", "up-left", "move_top_left"), ("move", "UP_RIGHT", "move_top_right"),
           ("move", "bottom-left", "move_bottom_left"), ("move", "down-right", "move_bottom_right"),
           ("zoom", "in", "zoom_plus"), ("zoom", "out", "zoom_minus"), ("focus", "far", "focus_plus"),
           ("focus", "near", "focus_minus"), ("iris", "open", "iris_plus"), ("iris", "close", "iris_minus")]


def device_of(peer):
    return peer.wait_for(r"the camera side is (\S+)").group(1)


def frame(peer):
    return peer.wait_for(r"\(((?:[0-9a-f]{2} ){6}[0-9a-f]{2})\)").group(1)


def test_commands_by_name_send_what_their_methods_send(sim):
    peer = sim("serial", "--address", "1")
    with Camera.serial(device_of(peer), speed=20) as cam:
        for command, name, method in BY_NAME:
            getattr(cam, command)(name)
            by_name = frame(peer)
            getattr(cam, method)()
            assert frame(peer) == by_name, (command, name, method)
        with pytest.raises(ValueError, match="direction must be one of up, down, left, right, up-left"):
            cam.move("sideways")
        with pytest.raises(TypeError, match="direction must be a str"):
            cam.zoom(1)
    assert len(korvane.DIRECTIONS) == 8


def test_reports_queue_beside_the_callable_keep_the_newest_and_end_on_close(sim):
    peer = sim("serial", "--address", "2")
    device = device_of(peer)
    with Camera.serial(device, address=2) as quiet:
        with pytest.raises(korvane.KorvaneError, match="reports are off"):
            quiet.reports()
    inbox = Inbox()
    with Camera.serial(device, address=2, on_report=inbox, report_queue=3) as cam:
        peer.wait_for(r"\(ff 02 00 07 00 64 6d\)")  # the report switch, preset 100, went out
        for code in ("a", "d", "a", "d", "52"):
            peer.type(code)
        assert inbox.wait(5)
        assert list(cam.reports(timeout=0)) == inbox.reports[2:] and cam.reports_dropped == 2
        got = []
        reader = threading.Thread(target=lambda: got.extend(cam.reports()))
        reader.start()
        peer.type("a")
        assert inbox.wait(6)
    reader.join(WAIT)
    assert not reader.is_alive(), "a reader waiting without a time-out ends when the camera closes"
    assert got == [inbox.reports[5]] and got[0].message is Message.TARGET_APPEARS

    # reports=True alone switches the tracker's reports on as the camera opens.
    with Camera.serial(device, address=2, reports=True) as cam:
        peer.wait_for(r"\(ff 02 00 07 00 64 6d\)")
        peer.type("d")
        assert next(cam.reports(timeout=WAIT)).message is Message.TARGET_DISAPPEARS
        cam.on_report = inbox
        cam.on_report = None
        assert cam.reports_on, "reports asked for stay on without the callable"
    # A callable set and taken back leaves them off, as before: the open sends no presets.
    with Camera(korvane.Mode.SERIAL) as cam:
        cam.set_device_address(2)
        assert cam.set_comm_device(device)
        cam.on_report = inbox
        cam.on_report = None
        assert cam.open() and not cam.reports_on
        cam.stop()
        assert frame(peer) == "ff 02 00 00 00 00 02"


def test_link_state_is_a_named_tuple_of_an_enum_and_the_reason(tmp_path):
    with Camera(korvane.Mode.SERIAL) as cam:
        assert cam.link_state == korvane.LinkStatus(LinkState.UNCHECKED, "")
        assert cam.set_comm_device(str(tmp_path / "gone")) is False
        state = cam.link_state
        assert state.state is LinkState.FAILED and "gone: no such device" in state.reason


@pytest.mark.parametrize("site, lib", [
    ("usr/lib/python3/dist-packages", "usr/lib/" + (sysconfig.get_config_var("MULTIARCH") or "")),
    ("usr/local/lib/python3/dist-packages", "usr/local/lib"),
    ("opt/korvane/lib/python3.11/site-packages", "opt/korvane/lib64"),
])
def test_an_installed_package_finds_the_library_in_its_prefix(tmp_path, site, lib):
    shutil.copytree(os.path.dirname(korvane.__file__), tmp_path / site / "korvane",
                    ignore=shutil.ignore_patterns("__pycache__"))
    (tmp_path / lib).mkdir(parents=True, exist_ok=True)
    shutil.copy(korvane.library_path(), tmp_path / lib / "libKorvanu.so.0")
    env = {k: v for k, v in os.environ.items() if k != "KORVANE_LIBRARY"}
    env["PYTHONPATH"] = str(tmp_path / site)
    run = subprocess.run([sys.executable, "-c", "import korvane; print(korvane.library_path())"],
                         env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == str(tmp_path / lib / "libKorvanu.so.0")


def test_every_public_name_has_its_own_docstring_and_pydoc_shows_them():
    public = [getattr(korvane, name) for name in korvane.__all__ if inspect.isclass(getattr(korvane, name))
              or inspect.isfunction(getattr(korvane, name))]
    public += [getattr(Camera, name) for name in vars(Camera) if not name.startswith("_")]
    bare = [obj for obj in public if not (inspect.getdoc(obj) or "").strip() or
            (inspect.isclass(obj) and (obj.__doc__ or "").startswith(obj.__name__ + "("))]
    assert bare == []
    text = pydoc.render_doc(korvane.Camera, renderer=pydoc.plaintext)
    for method in ("move", "zoom", "focus", "iris", "reports"):
        assert inspect.getdoc(getattr(Camera, method)).splitlines()[0] in text
