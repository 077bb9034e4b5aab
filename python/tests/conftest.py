"""The simulated peers, run as `korvane sim ...` subprocesses (the tool the
build makes, named by KORVANE_TOOL): what they print is read line by line and
waited on with a bound."""

import os
import queue
import re
import subprocess
import threading
import time

import pytest

WAIT = 10.0  # seconds any one expected line may take


class Sim:
    def __init__(self, *args):
        tool = os.environ.get("KORVANE_TOOL")
        if not tool:
            pytest.fail("KORVANE_TOOL must name the built korvane tool")
        self.process = subprocess.Popen([tool, "sim", *args, "--for", "60s"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def wait_for(self, pattern, timeout=WAIT):
        """The first line from here on that matches pattern (a regex), as a
        match; fails the test when none comes in time."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            try:
                line = self.lines.get(timeout=max(left, 0))
            except queue.Empty:
                line = None
                left = 0
            if line is not None:
                self.seen.append(line)
                found = re.search(pattern, line)
                if found:
                    return found
                continue
            if left <= 0 or self.process.poll() is not None:
                pytest.fail(f"no line matching {pattern!r} from the simulated peer; it printed:\n" +
                            "\n".join(self.seen))

    def type(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def stop(self):
        self.process.kill()
        self.process.wait(timeout=WAIT)


@pytest.fixture
def sim():
    started = []

    def start(*args):
        peer = Sim(*args)
        started.append(peer)
        return peer

    yield start
    for peer in started:
        peer.stop()


class Inbox:
    """A report callable that keeps what it gets and can be waited on."""

    def __init__(self):
        self.reports = []
        self.threads = set()
        self._changed = threading.Condition()

    def __call__(self, report):
        with self._changed:
            self.reports.append(report)
            self.threads.add(threading.get_ident())
            self._changed.notify_all()

    def wait(self, count, timeout=WAIT):
        with self._changed:
            return self._changed.wait_for(lambda: len(self.reports) >= count, timeout)
