"""Runs the shell examples of README.md and docs/*.md that need no hardware,
so the docs cannot drift from the tool. An example is a fenced `sh` block
right after a line

    <!-- example beside="korvane sim onvif" ready="REGEX" expect="REGEX" -->

beside: a command started first (a second terminal), stopped after the block;
ready: the line it prints once it serves; expect: what the block or the
command beside it must print. /dev/pts/N in a block stands for the device the
simulated serial line printed. Each block runs with bash -e in a folder of its
own, the built korvane first on PATH, and must exit 0 in time.

Usage: docs_examples.py SOURCE_DIR KORVANE_TOOL (run in a network namespace
of its own by ctest, so the fixed ports of the simulators are free)."""

import glob
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

READY_S, BLOCK_S, STOP_S = 20.0, 60.0, 10.0
MARKER = re.compile(r"^<!-- example(?P<attrs>.*?)-->\n(?P<fence>```\w*)\n(?P<body>.*?)^```$", re.M | re.S)
ATTRS = ("beside", "ready", "expect")


class Beside:
    """A background command whose output is read line by line and waited on."""

    def __init__(self, command, cwd, env):
        self.process = subprocess.Popen(["bash", "-c", "exec " + command], cwd=cwd, env=env, text=True,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        start_new_session=True)
        self.lines = []
        self.changed = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self.changed:
                self.lines.append(line)
                self.changed.notify_all()
        with self.changed:
            self.lines.append(None)
            self.changed.notify_all()

    def wait_for(self, pattern, timeout):
        """Whether what it printed matches pattern, waiting until it does, ends or time is up."""
        def seen():
            return re.search(pattern, "".join(l for l in self.lines if l is not None), re.M)
        with self.changed:
            self.changed.wait_for(lambda: None in self.lines or seen(), timeout)
            return bool(seen())

    def text(self):
        with self.changed:
            return "".join(l for l in self.lines if l is not None)

    def stop(self):
        stop_group(self.process)
        self.reader.join(STOP_S)


def stop_group(process):
    """SIGTERM to the command and whatever it started; SIGKILL when it lingers."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            return
        try:
            process.wait(STOP_S)
            return
        except subprocess.TimeoutExpired:
            continue


def examples(source):
    for path in [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "docs", "*.md"))):
        text = open(path, encoding="utf-8").read()
        where = os.path.relpath(path, source)
        found = list(MARKER.finditer(text))
        if len(found) != len(re.findall(r"^<!-- example", text, re.M)):
            yield where, 0, None, "a marker not followed by a fenced block"
        for match in found:
            line = text.count("\n", 0, match.start()) + 1
            attrs = dict(re.findall(r'(\w+)="([^"]*)"', match.group("attrs")))
            if match.group("fence") != "```sh" or set(attrs) - set(ATTRS):
                yield where, line, None, f"the marker needs a ```sh block and only {', '.join(ATTRS)}"
                continue
            try:
                [re.compile(attrs[name]) for name in ("ready", "expect") if name in attrs]
            except re.error as error:
                yield where, line, None, f"a marker's pattern: {error}"
                continue
            yield where, line, (attrs, match.group("body")), ""


def run(attrs, body, env):
    """The example's failure, or '' when it passed."""
    with tempfile.TemporaryDirectory() as folder:
        beside = Beside(attrs["beside"], folder, env) if "beside" in attrs else None
        try:
            if beside and not beside.wait_for(attrs.get("ready", "."), READY_S):
                return f"`{attrs['beside']}` did not print {attrs.get('ready')!r} within {READY_S} s:\n{beside.text()}"
            if "/dev/pts/N" in body:
                device = re.search(r"/dev/pts/\d+", beside.text() if beside else "")
                if not device:
                    return "the block uses /dev/pts/N but nothing beside it printed a device"
                body = body.replace("/dev/pts/N", device.group(0))
            block = subprocess.Popen(["bash", "-e", "-o", "pipefail", "-c", body], cwd=folder, env=env, text=True,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     start_new_session=True)
            try:
                output, _ = block.communicate(timeout=BLOCK_S)
            except subprocess.TimeoutExpired:
                stop_group(block)
                return f"the block did not end within {BLOCK_S} s"
            expect = attrs.get("expect")
            if beside and expect and block.returncode == 0 and not re.search(expect, output, re.M):
                beside.wait_for(expect, READY_S)  # what the block sent may still be on its way
        finally:
            if beside:
                beside.stop()
        printed = output + ("\n--- beside it:\n" + beside.text() if beside else "")
        if block.returncode != 0:
            return f"the block exited {block.returncode}:\n{printed}"
        if expect and not any(re.search(expect, text, re.M) for text in (output, beside.text() if beside else "")):
            return f"nothing printed matches {expect!r}:\n{printed}"
        return ""


def main():
    source, tool = sys.argv[1], os.path.abspath(sys.argv[2])
    env = dict(os.environ, PATH=os.path.dirname(tool) + os.pathsep + os.environ.get("PATH", ""))
    ran, failed = 0, 0
    for where, line, example, problem in examples(source):
        started = time.monotonic()
        if example:
            problem = run(*example, env)
            ran += 1
        failed += bool(problem)
        print(f"{'FAIL' if problem else 'ok  '} {where}:{line} ({time.monotonic() - started:.1f} s)", flush=True)
        if problem:
            print("     " + problem.replace("\n", "\n     "), flush=True)
    print(f"{ran} examples run, {failed} failed")
    sys.exit(1 if failed or ran == 0 else 0)


if __name__ == "__main__":
    main()
