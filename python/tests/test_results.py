"""Commands say what happened: a peer killed mid-session makes the next
command raise KorvaneError with the library's reason; the connection test says
"answered" only when a camera answered, "unconfirmed" when it only went out."""

import os
import pty
import time

import pytest

import korvane
from korvane import Camera, DeviceType

WAIT = 5.0


def fails_soon(command):
    """The KorvaneError a repeated command comes to once the dead peer shows
    (a send may be queued before the failure is seen); None when none does
    within WAIT."""
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        try:
            command()
        except korvane.KorvaneError as error:
            return error
    return None


def onvif(sim):
    peer = sim("onvif", "--port", "0")
    port = int(peer.wait_for(r"http://127\.0\.0\.1:(\d+)/onvif/device_service").group(1))
    return peer, Camera.onvif("127.0.0.1", port, "admin", "secret")


def relay(sim):
    peer = sim("relay")
    peer.wait_for("simulated relay service")
    return peer, Camera.relay("192.168.1.64", 80, DeviceType.RELAY_1, user="admin", password="secret")


def tracking(sim):
    peer = sim("tracking", "--port", "0")
    port = int(peer.wait_for(r"on 127\.0\.0\.1:(\d+)").group(1))
    return peer, Camera.tracking("127.0.0.1", port)


class Pty:
    """A serial line whose far end is closed by stop(), as a peer killed."""

    def __init__(self):
        self.master, slave = pty.openpty()
        self.name = os.ttyname(slave)
        os.close(slave)

    def stop(self):
        os.close(self.master)


def serial(sim):
    line = Pty()
    return line, Camera.serial(line.name)


# link, what its test says while the peer runs, the reason's words once it is gone
LINKS = [(onvif, "answered", "Stop|connect|refused"), (serial, "unconfirmed", "writing to"),
         (relay, "unconfirmed", "sending to the relay service")]


@pytest.mark.parametrize("make,tested,reason", LINKS, ids=["onvif", "serial", "relay"])
def test_a_peer_killed_mid_session_makes_the_next_commands_raise(sim, make, tested, reason):
    korvane.set_message_handler(lambda title, text: None)
    peer, cam = make(sim)
    with cam:
        assert cam.stop() is None
        assert cam.connect_test() == tested
        peer.stop()
        error = fails_soon(cam.stop)
        assert error is not None, "every stop after the peer died returned as if done"
        assert error.outcome != 0 and error.outcome != 2 and not isinstance(error, korvane.Unsupported)
        assert any(word.lower() in str(error).lower() for word in reason.split("|")), str(error)
    korvane.set_message_handler(None)


def test_the_connection_test_says_answered_unconfirmed_or_failed(sim):
    korvane.set_message_handler(lambda title, text: None)
    peer, cam = tracking(sim)
    with cam:
        assert cam.connect_test() == "unconfirmed"
        peer.wait_for(r"\(")  # the test frame arrived, and nothing answers it
        peer.stop()
        assert cam.connect_test() == "unconfirmed"  # nobody listens: still only sent, never "answered"
    peer, cam = relay(sim)
    with cam:
        assert cam.connect_test() == "unconfirmed"
        peer.wait_for("command: ")
    peer, cam = onvif(sim)
    with cam:
        assert cam.connect_test() == "answered"
        peer.stop()
        with pytest.raises(korvane.KorvaneError, match="failed the test"):
            cam.connect_test()
    korvane.set_message_handler(None)


# A camera that cannot open says why, in words about what was given.
@pytest.mark.parametrize("make,reason", [
    (lambda: Camera.onvif("cam.local"), "the address cam.local is not an IP address"),
    (lambda: Camera.tracking("localhost", 1234), "'localhost' is not an IPv4 address"),
], ids=["onvif host name", "tracking host name"])
def test_a_camera_that_cannot_open_says_why(make, reason):
    with pytest.raises(korvane.KorvaneError, match=reason):
        make()
