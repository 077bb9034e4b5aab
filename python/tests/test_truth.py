"""What the package says and checks: the capability table shared with the C++
and tool checks (tests/capabilities.json), argument checks, commands from
several threads while one closes, message handlers swapped while shown."""

import json
import os
import pty
import socket
import threading

import pytest

import korvane
from korvane import Camera, Mode

from conftest import WAIT

TABLE = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "capabilities.json")

# A command for each operation that has one in the package.
COMMANDS = {
    "move": lambda cam: cam.move_up(), "zoom": lambda cam: cam.zoom_plus(), "focus": lambda cam: cam.focus_plus(),
    "iris": lambda cam: cam.iris_plus(), "preset": lambda cam: cam.set_preset(9),
    "track": lambda cam: cam.open_track(), "autozoom": lambda cam: cam.open_auto_zoom(),
    "autowrite": lambda cam: cam.open_auto_write(), "test": lambda cam: cam.connect_test(),
}


@pytest.fixture
def line():
    """A real pseudo-terminal: the camera side's name."""
    master, slave = pty.openpty()
    name = os.ttyname(slave)
    os.close(slave)
    yield name
    os.close(master)


def configured(link, device):
    """A camera set up (not opened) as the table's row describes."""
    cam = Camera({"serial": Mode.SERIAL, "network": Mode.NETWORK, "tracking": Mode.TRACKSYSTEM}[link["mode"]])
    cam.set_device_address(2)
    if link["mode"] == "serial":
        assert cam.set_comm_device(device, protocol=link["protocol"])
    elif link["mode"] == "network":
        cam.set_device_type(link["device_type"])
        cam.set_socket_param(link["protocol"], "", 9)  # no address: nothing is asked
    else:
        cam.set_system_type(link["system_type"])
        cam.set_system_param(link["protocol"], "127.0.0.1", 9)
    return cam


def test_the_package_agrees_with_the_capability_table(line, capfd):
    korvane.set_message_handler(lambda title, text: None)  # the tests' messages stay quiet
    table = json.load(open(TABLE))
    assert tuple(table["operations"]) == korvane.OPERATIONS
    for link in table["links"]:
        with configured(link, line) as cam:
            assert cam.supported == frozenset(link["can"]), link
            assert cam.preset_range == (tuple(link["presets"]) if link["presets"] else None), link
            for op, command in COMMANDS.items():
                assert cam.can(op) == (op in link["can"]), (link, op)
                if op in link["can"]:
                    try:
                        command(cam)  # not open: it may fail, but never as unsupported
                    except korvane.KorvaneError as error:
                        assert not isinstance(error, korvane.Unsupported), (link, op, error)
                else:
                    with pytest.raises(korvane.Unsupported, match=f"nothing would be sent to <korvane.Camera"):
                        command(cam)
    korvane.set_message_handler(None)


def test_arguments_are_checked_by_name(line):
    cam = Camera(Mode.SERIAL)
    onvif = Camera(Mode.NETWORK)
    onvif.set_device_type("onvif")
    cases = [
        (lambda: cam.set_device_address(256), ValueError, "address must be 0 to 255"),
        (lambda: cam.set_device_address(-1), ValueError, "address must be 0 to 255"),
        (lambda: cam.set_device_address("1"), TypeError, "address must be an int, not str"),
        (lambda: cam.set_speed(64), ValueError, "speed must be 0 to 63, not 64"),
        (lambda: cam.set_vertical_speed(1.5), TypeError, "speed must be an int, not float"),
        (lambda: cam.set_comm_device(line, protocol="pelco-x"), ValueError, "protocol must be one of"),
        (lambda: cam.set_comm_device(line, protocol=7), ValueError, "protocol must be one of 1, 2, 3"),
        (lambda: cam.set_comm_device(line, protocol=None), TypeError, "protocol must be a Protocol"),
        (lambda: cam.set_comm_device(line, data_bits=9), ValueError, "data_bits must be 5 to 8"),
        (lambda: cam.set_comm_device(5), TypeError, "name must be a str"),
        (lambda: onvif.set_socket_param("visca", "127.0.0.1", 73617), ValueError, "port must be 1 to 65535"),
        (lambda: onvif.set_socket_param("visca", "127.0.0.1", 0), ValueError, "port must be 1 to 65535"),
        (lambda: onvif.set_socket_param("visca", b"\x00" and 5, 80), TypeError, "ip must be a str"),
        (lambda: onvif.set_device_type("relay3"), ValueError, "device_type must be one of"),
        (lambda: onvif.goto_preset(0), ValueError, "preset must be 1 to 256 on this link, not 0"),
        (lambda: onvif.goto_preset(257), ValueError, "preset must be 1 to 256 on this link, not 257"),
        (lambda: cam.goto_preset(256), ValueError, "preset must be 0 to 255 on this link, not 256"),
        (lambda: cam.goto_preset("5"), TypeError, "preset must be an int"),
        (lambda: cam.can("pan"), ValueError, "operation must be one of move, zoom"),
        (lambda: Camera.relay("127.0.0.1", 80, "onvif"), ValueError, "use Camera.onvif"),
    ]
    for call, kind, says in cases:
        with pytest.raises(kind, match=says):
            call()
    assert cam.set_comm_device(line, protocol="visca")
    assert "visca on serial" in repr(cam) and repr(cam).endswith("open>")
    cam.close()
    onvif.close()
    assert repr(cam).endswith("closed>")


def test_commands_from_several_threads_while_another_closes(sim):
    peer = sim("onvif", "--port", "0")
    port = int(peer.wait_for(r"http://127\.0\.0\.1:(\d+)/onvif/device_service").group(1))
    for _ in range(10):
        cam = Camera.onvif("127.0.0.1", port, "admin", "secret")  # each command is an HTTP request
        started = threading.Barrier(5)
        outcomes = []

        def send():
            started.wait()
            try:
                while True:
                    cam.move_up()
                    cam.stop()
            except ValueError as error:  # closed under it: the one expected end
                outcomes.append(str(error))
            except BaseException as error:  # noqa: B036
                outcomes.append(repr(error))

        threads = [threading.Thread(target=send) for _ in range(4)]
        for thread in threads:
            thread.start()
        started.wait()
        cam.close()
        for thread in threads:
            thread.join(10)
        assert outcomes == ["the camera is closed"] * 4


class HeldQueries:
    """A TCP relay in front of the simulated ONVIF camera that, once hold is
    set, keeps each GetStatus request back until released (bounded): a
    camera slow to say where it points."""

    def __init__(self, port):
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port, self.camera = self.server.getsockname()[1], port
        self.hold, self.holding, self.released = threading.Event(), threading.Event(), threading.Event()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            client, _ = self.server.accept()
            camera = socket.create_connection(("127.0.0.1", self.camera))
            for ends in ((client, camera, True), (camera, client, False)):
                threading.Thread(target=self._pipe, args=ends, daemon=True).start()

    def _pipe(self, source, sink, requests):
        try:
            while data := source.recv(65536):
                if requests and self.hold.is_set() and b"GetStatus" in data:
                    self.holding.set()
                    self.released.wait(WAIT)
                sink.sendall(data)
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def test_a_stop_reaches_the_camera_while_another_thread_waits_for_its_position(sim):
    peer = sim("onvif", "--port", "0")
    relay = HeldQueries(int(peer.wait_for(r"http://127\.0\.0\.1:(\d+)/onvif/device_service").group(1)))
    with Camera.onvif("127.0.0.1", relay.port, "admin", "secret") as cam:
        relay.hold.set()
        answers = []
        asking = threading.Thread(target=lambda: answers.append(cam.position))
        asking.start()
        assert relay.holding.wait(WAIT), "no GetStatus reached the relay"
        cam.stop()
        # The stop reached the camera ahead of the query still held back.
        assert peer.wait_for(r"^\S+\s+(Stop|GetStatus)\b").group(1) == "Stop"
        assert asking.is_alive()
        relay.released.set()
        asking.join(WAIT)
        assert answers and answers[0] is not None


def test_a_camera_closed_by_the_message_its_own_call_shows():
    cam = Camera(Mode.SERIAL)  # no line: the call shows why, on this thread, while it runs
    korvane.set_message_handler(lambda title, text: cam.close())  # must not wait for its own call
    with pytest.raises(korvane.KorvaneError, match="no serial line"):
        cam.connect_test()
    korvane.set_message_handler(None)
    assert cam.closed and (cam._users, cam._orphan) == (0, None)  # freed as the call ended


def test_message_handlers_swapped_while_messages_are_shown():
    late = []
    done = threading.Event()

    def showing():
        with Camera(Mode.SERIAL) as cam:  # no line: the test shows the system's text
            while not done.is_set():
                with pytest.raises(korvane.KorvaneError, match="no serial line"):
                    cam.connect_test()

    threads = [threading.Thread(target=showing) for _ in range(3)]
    for thread in threads:
        thread.start()
    try:
        previous = None
        for swap in range(3000):
            replaced = threading.Event()

            def handler(title, text, replaced=replaced):
                if replaced.is_set():
                    late.append(text)

            korvane.set_message_handler(handler)
            if previous is not None:
                previous.set()
            previous = replaced
    finally:
        done.set()
        for thread in threads:
            thread.join(10)
        korvane.set_message_handler(None)
    assert late == []
