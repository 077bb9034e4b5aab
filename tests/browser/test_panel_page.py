"""The panel's page in a real browser (headless Chromium through its
WebDriver), against `korvane panel` serving the simulated serial line and
ONVIF camera on 127.0.0.1. Every wait is bounded and waits for an event."""

import json
import os
import queue
import re
import subprocess
import tempfile
import threading
import time

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

TOOL = os.environ["KORVANE_TOOL"]
SHOTS = os.environ.get("PANEL_SCREENSHOT_DIR", tempfile.gettempdir())


class Process:
    """A korvane child process whose output lines are read as they come."""

    def __init__(self, *args):
        self.proc = subprocess.Popen([TOOL, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.lines = queue.Queue()
        self.seen = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_for(self, pattern, timeout=5.0):
        """The first line from now on that matches, or a failure naming what came."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no line matching {pattern!r} within {timeout}s; saw: {self.seen[-15:]}")
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                continue
            self.seen.append(line)
            match = re.search(pattern, line)
            if match:
                return match

    def nothing_like(self, pattern, within):
        """True when no line matching comes within the time."""
        try:
            self.wait_for(pattern, within)
            return False
        except AssertionError:
            return True

    def type(self, text):
        self.proc.stdin.write(text)
        self.proc.stdin.flush()

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


@pytest.fixture(scope="module")
def room():
    serial = Process("sim", "serial", "--address", "1")
    device = serial.wait_for(r"the camera side is (/dev/\S+)").group(1)
    onvif = Process("sim", "onvif", "--port", "0")
    onvif_port = onvif.wait_for(r"http://127\.0\.0\.1:(\d+)/").group(1)
    cameras = {"cameras": [
        {"name": "podium", "mode": "serial", "device": device, "address": 1, "protocol": "pelco-d"},
        {"name": "board", "mode": "serial", "device": device, "address": 2, "pan_speed": 20, "tilt_speed": 20},
        {"name": "room", "mode": "onvif", "host": "127.0.0.1", "port": int(onvif_port),
         "user": "admin", "password": "secret"},
        {"name": "spare", "mode": "serial", "device": "/dev/korvane-unplugged"},
    ]}
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as file:
        json.dump(cameras, file)
    panel = Process("panel", "--cameras", file.name, "--listen", "127.0.0.1:0")
    url = panel.wait_for(r"open (http://127\.0\.0\.1:\d+/)").group(1)
    yield {"serial": serial, "onvif": onvif, "panel": panel, "url": url}
    for process in (panel, serial, onvif):
        process.stop()
    os.unlink(file.name)


@pytest.fixture(scope="module")
def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.TemporaryDirectory()
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1500,1000", f"--user-data-dir={profile.name}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    yield driver
    driver.quit()
    profile.cleanup()


def open_panel(driver, url):
    driver.get(url)
    WebDriverWait(driver, 10).until(
        lambda d: d.find_element(By.CSS_SELECTOR, '.card[data-camera="podium"] .badge').text == "open")
    WebDriverWait(driver, 10).until(
        lambda d: d.find_element(By.CSS_SELECTOR, '.card[data-camera="room"] .badge').text == "open")


def button(driver, camera, selector):
    return driver.find_element(By.CSS_SELECTOR, f'.card[data-camera="{camera}"] {selector}')


def test_a_held_direction_moves_until_released(room, browser):
    open_panel(browser, room["url"])
    serial = room["serial"]
    left = button(browser, "podium", 'button[data-motion="left"]')
    ActionChains(browser).click_and_hold(left).perform()
    serial.wait_for(r"pelco-d addr 1: pan left speed 32")
    # Held longer than one lease: the page's renewals keep it going.
    assert serial.nothing_like(r"addr 1: stop", within=1.5)
    assert "moving: left" in button(browser, "podium", ".badge").text
    ActionChains(browser).release().perform()
    serial.wait_for(r"pelco-d addr 1: stop", timeout=2)
    WebDriverWait(browser, 5).until(lambda d: button(d, "podium", ".badge").text == "open")

    # Zoom is held the same way, on the other camera of the line.
    zoom = button(browser, "board", 'button[data-motion="zoom-in"]')
    ActionChains(browser).click_and_hold(zoom).perform()
    serial.wait_for(r"pelco-d addr 2: zoom tele")
    ActionChains(browser).release().perform()
    serial.wait_for(r"pelco-d addr 2: stop", timeout=2)


def test_presets_go_on_a_click_and_store_only_from_their_own_box(room, browser):
    open_panel(browser, room["url"])
    serial = room["serial"]
    button(browser, "podium", '.preset-grid button[data-preset="3"]').click()
    serial.wait_for(r"pelco-d addr 1: go to preset 3")
    # Storing is folded away apart from the go buttons.
    assert button(browser, "podium", ".store").get_property("open") is False
    button(browser, "podium", ".store summary").click()
    store = button(browser, "podium", ".store-set")
    number = button(browser, "podium", ".store-number")
    number.clear()
    number.send_keys("5")
    store.click()
    serial.wait_for(r"pelco-d addr 1: set preset 5")
    WebDriverWait(browser, 5).until(lambda d: "preset 5" in button(d, "podium", ".message").text)
    button(browser, "podium", ".store-clear").click()
    serial.wait_for(r"pelco-d addr 1: clear preset 5")
    button(browser, "board", 'button[data-switch="track"][data-on="true"]').click()
    serial.wait_for(r"pelco-d addr 2: go to preset 80")
    button(browser, "room", '.preset-grid button[data-preset="2"]').click()
    room["onvif"].wait_for(r"GotoPreset")


def test_a_report_from_the_line_appears_in_the_feed(room, browser):
    open_panel(browser, room["url"])
    room["serial"].type("a\n")  # the simulated tracking system: target appears, for address 1
    WebDriverWait(browser, 5).until(
        lambda d: "target appears" in d.find_element(By.CSS_SELECTOR, "#feed tr:first-child").text)
    first = browser.find_element(By.CSS_SELECTOR, "#feed tr:first-child").text
    assert "podium" in first and "ff 01 00 07 00 50 58" in first, first
    room["serial"].type("56\n")  # writing starts: newest first
    WebDriverWait(browser, 5).until(
        lambda d: "writing starts" in d.find_element(By.CSS_SELECTOR, "#feed tr:first-child").text)
    assert "target appears" in browser.find_element(By.CSS_SELECTOR, "#feed tr:nth-child(2)").text
    # A camera that could not be opened says why.
    assert button(browser, "spare", ".badge").text == "failed"
    assert "cannot open serial device /dev/korvane-unplugged" in button(browser, "spare", ".reason").text


def test_closing_the_tab_mid_move_stops_the_camera(room, browser):
    first = browser.current_window_handle
    browser.switch_to.new_window("tab")
    open_panel(browser, room["url"])
    serial = room["serial"]
    down = button(browser, "podium", 'button[data-motion="down"]')
    ActionChains(browser).click_and_hold(down).perform()
    serial.wait_for(r"pelco-d addr 1: tilt down")
    closed = time.monotonic()
    browser.close()
    serial.wait_for(r"pelco-d addr 1: stop", timeout=2)
    print(f"stop arrived {1000 * (time.monotonic() - closed):.0f} ms after the tab was closed")
    browser.switch_to.window(first)


def test_screenshot_of_the_panel(room, browser):
    open_panel(browser, room["url"])
    room["serial"].type("a\n")
    WebDriverWait(browser, 5).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#feed tr")) >= 3)
    button(browser, "board", ".store summary").click()
    path = os.path.join(SHOTS, "panel.png")
    assert browser.save_screenshot(path)
    assert os.path.getsize(path) > 10000
    print("screenshot:", path)
