"""The korvane package against the simulated peers: a serial camera on a
pseudo-terminal, a tracking camera and a relayed camera over UDP, an ONVIF
camera over HTTP."""

import gc
import os
import subprocess
import sys
import threading
import weakref

import pytest

import korvane
from korvane import Camera, DeviceType, Message

from conftest import Inbox


def serial_device(sim):
    return sim.wait_for(r"the camera side is (\S+)").group(1)


def test_serial_camera_sends_frames_and_receives_reports(sim):
    peer = sim("serial", "--address", "1")
    device = serial_device(peer)
    inbox = Inbox()
    with Camera.serial(device, address=1, speed=30, on_report=inbox) as cam:
        # A report callable is registered: opening goes to presets 88 and 100.
        peer.wait_for(r"\(ff 01 00 07 00 58 60\)")
        peer.wait_for(r"\(ff 01 00 07 00 64 6c\)")
        cam.move_up()
        peer.wait_for(r"\(ff 01 00 08 1e 1e 45\)")
        cam.stop()
        peer.wait_for(r"\(ff 01 00 00 00 00 01\)")
        cam.goto_preset(5)
        peer.wait_for(r"\(ff 01 00 07 00 05 0d\)")
        cam.clear_preset(5)
        peer.wait_for(r"\(ff 01 00 05 00 05 0b\)")
        assert cam.stored_presets is None  # a serial camera cannot be asked
        cam.open_track()
        peer.wait_for(r"\(ff 01 00 07 00 50 58\)")

        peer.type("a")
        peer.type("57")
        assert inbox.wait(2)
        assert inbox.reports[0] == korvane.Report(Message.TARGET_APPEARS, bytes.fromhex("ff 01 00 07 00 50 58"))
        assert inbox.reports[1].message is Message.WRITE_STOP
        assert threading.get_ident() not in inbox.threads, "reports come on the library's thread"
    assert cam.closed
    with pytest.raises(ValueError):
        cam.move_up()


def test_relayed_type4_camera_reports_target_events(sim):
    relay = sim("relay")
    relay.wait_for("simulated relay service")
    inbox = Inbox()
    cam = Camera.relay("192.168.1.64", 80, DeviceType.RELAY_4, user="admin", password="secret", speed=30,
                       on_report=inbox)
    relay.wait_for(r'open: device type 4, .*ip "192\.168\.1\.64", user "admin"')
    cam.move_left()
    relay.wait_for(r"command: device kind 4, device port 80, .*pan left")
    relay.type("a")
    assert inbox.wait(1)
    relay.type("d")
    assert inbox.wait(2)
    assert [r.message for r in inbox.reports] == [Message.TARGET_APPEARS, Message.TARGET_DISAPPEARS]
    assert inbox.reports[0].data == b"Camera Return Code"
    cam.close()
    relay.wait_for("close: event port")


def test_tracking_camera_over_udp(sim):
    peer = sim("tracking", "--port", "0")
    port = int(peer.wait_for(r"on 127\.0\.0\.1:(\d+)").group(1))
    inbox = Inbox()
    with Camera.tracking("127.0.0.1", port, address=1, speed=30, on_report=inbox) as cam:
        cam.move_right()
        peer.wait_for(r"\(ff 01 00 02 1e 1e 3f\)")
        cam.open_track()
        peer.wait_for(r"\(aa 40 02 01 00\)")
        peer.type("a")
        assert inbox.wait(1)
        assert inbox.reports[0] == korvane.Report(Message.TARGET_APPEARS, bytes.fromhex("aa 50 02 01 01"))


def test_onvif_camera_over_http(sim):
    peer = sim("onvif", "--port", "0")
    port = int(peer.wait_for(r"http://127\.0\.0\.1:(\d+)/onvif/device_service").group(1))
    with pytest.raises(korvane.KorvaneError, match="ONVIF camera"):
        Camera.onvif("127.0.0.1", port, "admin", "wrong")
    with Camera.onvif("127.0.0.1", port, "admin", "secret", speed=30) as cam:
        assert cam.link_state == (korvane.LinkState.OK, "")
        cam.set_move_timeout(1500)
        cam.zoom_plus()
        peer.wait_for(r"ContinuousMove .*zoom 0\.484375 timeout PT1\.5S")
        # Focus through the camera's Imaging service, and the stop ends it.
        assert cam.can("focus") and not cam.can("iris")
        cam.focus_plus()
        peer.wait_for(r"Move source VideoSource_1 focus 0\.484375")
        cam.stop()
        peer.wait_for(r"Stop source VideoSource_1")
        assert cam.stored_presets == [1]  # the simulated camera's own
        cam.set_preset(2)
        peer.wait_for("SetPreset")
        assert cam.stored_presets == [1, 2]
        cam.goto_preset(2)
        peer.wait_for("GotoPreset")
        assert cam.set_home() and cam.goto_home()
        peer.wait_for("GotoHomePosition")
        position = cam.position  # at home, which was stored while zooming in
        assert (position.pan, position.tilt, position.moving) == (0.0, 0.0, False) and position.zoom > 0.0
    with pytest.raises(korvane.Unsupported, match="position"):
        korvane.Camera(korvane.Mode.SERIAL).position


def test_visca_ip_camera(sim):
    peer = sim("visca-ip", "--port", "0")
    port = int(peer.wait_for(r"camera on 127\.0\.0\.1:(\d+)").group(1))
    with Camera.visca_ip("127.0.0.1", port, speed=63) as cam:
        peer.wait_for(r"#1 seq 0 control: RESET -> reset reply")
        cam.move_left()
        peer.wait_for(r"#2 seq 1 command: visca addr 1: drive left pan speed 24 .*-> ack, completion")
        cam.stop()
        peer.wait_for(r"#3 seq 2 command: visca addr 1: pan-tilt stop -> ack, completion")
        position = cam.position
        pan = int(peer.wait_for(r"pan-tilt position -> pan (-?\d+)").group(1))
        assert pan == -24 and position.pan == pan / 32768 and not position.moving
    with pytest.raises(korvane.KorvaneError, match="RESET not answered"):
        Camera.visca_ip("127.0.0.1", 1)


def test_onvif_camera_over_https_with_a_pinned_certificate(sim):
    peer = sim("onvif", "--port", "0", "--tls")
    port = int(peer.wait_for(r"https://127\.0\.0\.1:(\d+)/onvif/device_service").group(1))
    fingerprint = peer.wait_for(r"fingerprint: ([0-9a-f]{64})").group(1)
    with pytest.raises(korvane.KorvaneError):
        Camera.onvif(f"https://127.0.0.1:{port}", user="admin", password="secret")
    with Camera.onvif(f"https://127.0.0.1:{port}", user="admin", password="secret",
                      tls_fingerprint=fingerprint.upper(), profile="Profile_2") as cam:
        cam.move_left()
        peer.wait_for("ContinuousMove profile Profile_2")


def test_a_raising_callable_is_reported_and_later_reports_still_arrive(sim, capfd):
    peer = sim("serial", "--address", "3")
    device = serial_device(peer)
    inbox = Inbox()
    failed = threading.Event()

    def fragile(report):
        if not failed.is_set():
            failed.set()
            raise RuntimeError("host bug in the report callable")
        inbox(report)

    with Camera.serial(device, address=3, on_report=fragile):
        peer.type("a")
        assert failed.wait(10)
        peer.type("d")
        assert inbox.wait(1)
        assert inbox.reports[0].message is Message.TARGET_DISAPPEARS
    assert "RuntimeError: host bug in the report callable" in capfd.readouterr().err


def test_a_camera_collected_without_close_stops_reporting(sim):
    peer = sim("serial", "--address", "1")
    device = serial_device(peer)
    first = Inbox()
    cam = Camera.serial(device, on_report=first)
    peer.type("a")
    assert first.wait(1)
    collected = weakref.ref(cam)
    del cam
    gc.collect()
    assert collected() is None, "nothing holds a camera alive once the host lets go"

    # The address is free again: the next report goes to the camera that took
    # it, and none to the collected one.
    second = Inbox()
    with Camera.serial(device, on_report=second):
        peer.type("d")
        assert second.wait(1)
    assert len(first.reports) == 1


def test_failures_are_results_or_clear_errors(tmp_path):
    missing = str(tmp_path / "no-such-tty")
    with pytest.raises(korvane.KorvaneError, match="no-such-tty: no such device"):
        Camera.serial(missing)
    with Camera(korvane.Mode.SERIAL) as cam:
        assert cam.mode is korvane.Mode.SERIAL
        assert cam.set_comm_device(missing) is False
        assert cam.set_comm_device("") is False
        assert cam.open() is False
    with Camera(0) as idle:  # no known mode: a camera that does nothing
        assert idle.open() is True
        assert idle.supported == frozenset()
        with pytest.raises(korvane.Unsupported, match="move_up: .* a camera of no known mode sends nothing"):
            idle.move_up()
    assert korvane.library_version() == korvane.__version__


def test_library_not_found_says_how_to_point_at_it(tmp_path):
    env = dict(os.environ, KORVANE_LIBRARY=str(tmp_path / "libKorvanu.so"),
               PYTHONPATH=os.path.dirname(os.path.dirname(korvane.__file__)))
    run = subprocess.run([sys.executable, "-c", "import korvane; korvane.Camera(korvane.Mode.SERIAL)"],
                         env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode != 0
    assert "LibraryNotFoundError" in run.stderr
    assert "Point at it with KORVANE_LIBRARY=" in run.stderr
    assert str(tmp_path) in run.stderr


def test_pip_installs_the_package_without_network(tmp_path):
    source = os.path.dirname(os.path.dirname(korvane.__file__))
    install = subprocess.run([sys.executable, "-m", "pip", "install", "--no-index", "--no-cache-dir",
                              "--target", str(tmp_path / "site"), source],
                             capture_output=True, text=True, timeout=120)
    assert install.returncode == 0, install.stdout + install.stderr
    env = dict(os.environ, PYTHONPATH=str(tmp_path / "site"))
    run = subprocess.run([sys.executable, "-c", "import korvane; print(korvane.__file__, korvane.library_version())"],
                         env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith(str(tmp_path / "site"))
