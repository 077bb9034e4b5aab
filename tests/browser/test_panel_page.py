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
import urllib.error
import urllib.parse
import urllib.request

import pytest
from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

TOOL = os.environ["KORVANE_TOOL"]
LONG = "hall " + "x" * 95  # a 100-character name, on a camera that fails with a long reason
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

    def skip_past(self):
        """Forgets the lines that came so far: the next wait sees only what comes after."""
        while True:
            try:
                self.seen.append(self.lines.get_nowait())
            except queue.Empty:
                return

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
    tls = Process("sim", "onvif", "--port", "0", "--tls")
    tls_url = tls.wait_for(r"(https://127\.0\.0\.1:\d+)/").group(1)
    cameras = {"cameras": [
        {"name": "podium", "mode": "serial", "device": device, "address": 1, "protocol": "pelco-d",
         "presets": {"1": "lectern", "2": "board", "20": "wide shot of the whole hall"}},
        {"name": "board", "mode": "serial", "device": device, "address": 2, "pan_speed": 20, "tilt_speed": 20},
        {"name": "room", "mode": "onvif", "host": "127.0.0.1", "port": int(onvif_port),
         "user": "admin", "password": "secret"},
        {"name": "spare", "mode": "serial", "device": "/dev/korvane-unplugged"},
        {"name": LONG, "mode": "onvif", "host": "127.0.0.1", "port": int(onvif_port), "user": "admin", "password": "wrong"},
        {"name": "nobody", "mode": "onvif", "host": "127.0.0.1", "port": 9, "user": "admin", "password": "x"},
    ] + [{"name": f"aisle {n}", "mode": "serial", "device": device, "address": n} for n in (3, 4)] + [
        {"name": "pinned", "mode": "onvif", "host": tls_url, "user": "admin", "password": "secret", "tls_fingerprint": "ab" * 32}]}
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as file:
        json.dump(cameras, file)
    panel = Process("panel", "--cameras", file.name, "--listen", "127.0.0.1:0")
    url = panel.wait_for(r"open (http://127\.0\.0\.1:\d+/)").group(1)
    yield {"serial": serial, "onvif": onvif, "onvif_port": int(onvif_port), "panel": panel, "url": url}
    for process in (panel, serial, onvif, tls):
        process.stop()
    os.unlink(file.name)


def chromium():
    """A headless Chromium of its own profile: a second one is a second operator's page."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    profile = tempfile.TemporaryDirectory()
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1500,1000", f"--user-data-dir={profile.name}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.profile = profile
    return driver


def quit_chromium(driver):
    driver.quit()
    driver.profile.cleanup()


@pytest.fixture(scope="module")
def browser():
    driver = chromium()
    yield driver
    quit_chromium(driver)


def entry(driver, camera):
    return driver.find_element(By.CSS_SELECTOR, f'#strip .entry[data-camera="{camera}"]')


def open_panel(driver, url):
    driver.get(url)
    for camera in ("podium", "room"):
        WebDriverWait(driver, 10).until(lambda d: entry(d, camera).get_attribute("data-state") == "open")


def button(driver, camera, selector):
    """A control of the camera's card, picked in the list first: only its card shows."""
    if entry(driver, camera).get_attribute("aria-current") != "true":
        entry(driver, camera).click()
    return driver.find_element(By.CSS_SELECTOR, f'.card[data-camera="{camera}"] {selector}')


def write_cameras(cameras):
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as file:
        json.dump({"cameras": cameras}, file)
    return file.name


# Every control of the camera "room", as the page has them: disabled or not.
CONTROLS_DISABLED = """
    return [...document.querySelectorAll('.card[data-camera="room"] :is(button, input)')].map((c) => c.disabled);"""


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
    # A switch's state cannot be read back: the page says what it last sent, and no more.
    sent = button(browser, "board", '.switch[data-op="track"] .sent')
    assert sent.text == "unknown"
    button(browser, "board", 'button[data-switch="track"][data-on="true"]').click()
    serial.wait_for(r"pelco-d addr 2: go to preset 80")
    WebDriverWait(browser, 5).until(lambda d: sent.text == "last sent: on")
    button(browser, "board", 'button[data-switch="track"][data-on="false"]').click()
    serial.wait_for(r"pelco-d addr 2: go to preset 81")
    WebDriverWait(browser, 5).until(lambda d: sent.text == "last sent: off")
    assert button(browser, "board", '.switch[data-op="autozoom"] .sent').text == "unknown"
    # The ONVIF camera says which presets it holds: 2 is, once gone to (stored first).
    # The grid is drawn anew when the marks change: a button may go stale under a wait.
    marks = WebDriverWait(browser, 5, ignored_exceptions=[StaleElementReferenceException])
    stored = lambda n: button(browser, "room", f'.preset-grid button[data-preset="{n}"]').get_attribute("class")
    marks.until(lambda d: "empty" in stored(2) and "stored" in stored(1))
    button(browser, "room", '.preset-grid button[data-preset="2"]').click()
    room["onvif"].wait_for(r"GotoPreset")
    marks.until(lambda d: "stored" in stored(2))
    assert "empty" in stored(3) and "stored" not in button(browser, "podium", '.preset-grid button[data-preset="3"]').get_attribute("class")


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


# Each failure, in the list and on its card, as one cause; the panel's own text folded away without options.
CAUSES = [("spare", "the serial device is not there", "/dev/korvane-unplugged"),
          (LONG, "wrong user or password", "NotAuthorized"),
          ("nobody", "nothing answers at this address", "127.0.0.1:9"),
          ("pinned", "the certificate is not the pinned one", "is not the pinned one")]


@pytest.mark.parametrize("camera,cause,detail", CAUSES)
def test_a_failed_camera_says_one_cause(room, browser, camera, cause, detail):
    open_panel(browser, room["url"])
    WebDriverWait(browser, 10).until(lambda d: entry(d, camera).get_attribute("data-state") == "failed")
    assert cause in entry(browser, camera).text
    assert button(browser, camera, ".cause").text == cause
    assert not button(browser, camera, ".taken").is_displayed()  # no other page took it
    details = button(browser, camera, ".failure details")
    assert details.get_property("open") is False
    button(browser, camera, ".failure summary").click()
    text = button(browser, camera, ".reason").text
    assert detail in text and not re.search(r"--|KORVANE_", text), text
    said = [row.text for row in browser.find_elements(By.CSS_SELECTOR, "#feed tr") if detail in row.text]
    assert said and not any(re.search(r"--|KORVANE_", row) for row in said), said


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


def test_the_page_greys_out_while_the_panel_is_away(room, browser):
    kept = {"name": "room", "mode": "onvif", "host": "127.0.0.1", "port": room["onvif_port"],
            "user": "admin", "password": "secret"}
    path = write_cameras([kept, {"name": "gone", "mode": "serial", "device": "/dev/korvane-gone"}])
    panel = Process("panel", "--cameras", path, "--listen", "127.0.0.1:0")
    url = panel.wait_for(r"open (http://127\.0\.0\.1:\d+/)").group(1)
    port = re.search(r":(\d+)/", url).group(1)
    try:
        browser.get(url)
        WebDriverWait(browser, 10).until(lambda d: button(d, "room", ".badge").text == "open")
        connected = browser.execute_script(CONTROLS_DISABLED)  # only what the link cannot send
        assert not all(connected)
        button(browser, "room", ".test").click()
        WebDriverWait(browser, 5).until(lambda d: "test sent" in button(d, "room", ".message").text)
        panel.stop()
        stopped = time.monotonic()
        WebDriverWait(browser, 5).until(lambda d: all(d.execute_script(CONTROLS_DISABLED)))
        print(f"every control disabled {1000 * (time.monotonic() - stopped):.0f} ms after the panel stopped")
        card = button(browser, "room", "")
        assert "offline" in card.get_attribute("class")
        assert float(card.value_of_css_property("opacity")) < 0.7
        assert "connection lost" in browser.find_element(By.ID, "link").text
        assert "the page has lost the panel" in button(browser, "room", 'button[data-motion="up"]').get_attribute("title")
        stop_all = browser.find_element(By.ID, "stop-all")
        assert not stop_all.is_enabled() and "lost the panel" in stop_all.get_attribute("title")
        # The panel back on the same port, without one camera: the page comes back by itself, as the panel is now.
        with open(path, "w") as file:
            json.dump({"cameras": [kept]}, file)
        panel = Process("panel", "--cameras", path, "--listen", "127.0.0.1:" + port)
        panel.wait_for(r"open http://")
        WebDriverWait(browser, 10).until(lambda d: button(d, "room", ".badge").text == "open"
                                         and d.execute_script(CONTROLS_DISABLED) == connected)
        assert "offline" not in button(browser, "room", "").get_attribute("class")
        assert browser.find_element(By.ID, "link").text == "connected"
        assert stop_all.is_enabled() and button(browser, "room", ".message").text == "", "a word from before the break"
        assert [e.get_attribute("data-camera") for e in browser.find_elements(By.CSS_SELECTOR, "#strip .entry, .card")] == ["room"] * 2
    finally:
        panel.stop()
        os.unlink(path)


def test_keys_drive_the_selected_camera_and_key_up_stops_it(room, browser):
    open_panel(browser, room["url"])
    serial = room["serial"]
    serial.skip_past()
    keys = ActionChains(browser)
    # Nothing is selected yet: keys move nothing and the page says why.
    keys.key_down(Keys.ARROW_LEFT).key_up(Keys.ARROW_LEFT).perform()
    assert "select a camera first" in browser.find_element(By.ID, "link").text
    assert serial.nothing_like(r"addr 1: pan left", within=0.3)
    # A camera picked by its place in the list, or the one before or after: the hint goes.
    for key, picked in [("2", "board"), ("]", "room"), ("]", "spare"), ("[", "room")]:
        chain = ActionChains(browser)
        (chain.key_down(Keys.ALT).send_keys(key).key_up(Keys.ALT) if key.isdigit() else chain.send_keys(key)).perform()
        WebDriverWait(browser, 2).until(lambda d: d.find_element(By.ID, "selected").text == "keys drive: " + picked)
        assert browser.find_element(By.ID, "link").text == "connected"
    assert serial.nothing_like(r"addr 2: go to preset 2", within=0.3), "Alt+2 is no preset"
    # Tab from the header lands on the first camera of the list and selects it.
    browser.execute_script("document.getElementById('stop-all').focus()")
    ActionChains(browser).send_keys(Keys.TAB).perform()
    WebDriverWait(browser, 2).until(lambda d: d.find_element(By.ID, "selected").text == "keys drive: podium")

    ActionChains(browser).key_down(Keys.ARROW_LEFT).perform()
    serial.wait_for(r"pelco-d addr 1: pan left speed 32")
    # Held longer than a lease without a repeat: the page renews it as it does a pointer's.
    assert serial.nothing_like(r"addr 1: stop", within=1.5)
    released = time.monotonic()
    ActionChains(browser).key_up(Keys.ARROW_LEFT).perform()
    serial.wait_for(r"pelco-d addr 1: stop", timeout=2)
    print(f"key up: stop arrived {1000 * (time.monotonic() - released):.0f} ms later")

    # Two arrows make a diagonal; letting go of one goes on along the other.
    ActionChains(browser).key_down(Keys.ARROW_UP).key_down(Keys.ARROW_RIGHT).perform()
    serial.wait_for(r"pelco-d addr 1: tilt up \+ pan right")
    ActionChains(browser).key_up(Keys.ARROW_UP).perform()
    serial.wait_for(r"pelco-d addr 1: pan right")
    ActionChains(browser).key_up(Keys.ARROW_RIGHT).perform()
    serial.wait_for(r"pelco-d addr 1: stop", timeout=2)

    # A click on another card moves the keys there: + zooms while held, a digit
    # goes to its preset, Space stops a held move.
    button(browser, "board", ".describe").click()
    assert browser.find_element(By.ID, "selected").text == "keys drive: board"
    ActionChains(browser).key_down("+").perform()
    serial.wait_for(r"pelco-d addr 2: zoom tele")
    ActionChains(browser).key_up("+").perform()
    serial.wait_for(r"pelco-d addr 2: stop", timeout=2)
    ActionChains(browser).send_keys("4").perform()
    serial.wait_for(r"pelco-d addr 2: go to preset 4")
    ActionChains(browser).key_down(Keys.ARROW_DOWN).perform()
    serial.wait_for(r"pelco-d addr 2: tilt down")
    ActionChains(browser).send_keys(Keys.SPACE).perform()
    serial.wait_for(r"pelco-d addr 2: stop", timeout=2)
    ActionChains(browser).key_up(Keys.ARROW_DOWN).perform()
    assert serial.nothing_like(r"addr 2: (tilt|pan|stop)", within=0.3), "key up after a stop sends nothing more"

    # A key-up that never comes (the page lost the keyboard to another window)
    # still stops the camera.
    ActionChains(browser).key_down(Keys.ARROW_RIGHT).perform()
    serial.wait_for(r"pelco-d addr 2: pan right")
    first = browser.current_window_handle
    browser.switch_to.new_window("tab")
    serial.wait_for(r"pelco-d addr 2: stop", timeout=2)
    browser.close()
    browser.switch_to.window(first)
    ActionChains(browser).key_up(Keys.ARROW_RIGHT).perform()

    # ? shows the keys, Esc hides them.
    ActionChains(browser).send_keys("?").perform()
    keys_list = browser.find_element(By.ID, "keys")
    WebDriverWait(browser, 2).until(lambda d: keys_list.is_displayed())
    assert "go to preset" in keys_list.text
    ActionChains(browser).send_keys(Keys.ESCAPE).perform()
    WebDriverWait(browser, 2).until(lambda d: not keys_list.is_displayed())


# What a thumb must be able to hit, with its size, at the phone's size.
SMALL_TARGETS = """
    const small = [];
    for (const c of document.querySelectorAll('.top button, .tabs button, #strip button, #cameras button, #cameras input,' +
                                              '#cameras summary, #found button, #found input')) {
      const r = c.getBoundingClientRect();
      if (r.width === 0 && r.height === 0) continue;  // folded away
      if (r.width < 44 || r.height < 44)
        small.push((c.closest('.card') ? c.closest('.card').dataset.camera + ' ' : '') +
                   (c.getAttribute('aria-label') || c.textContent.trim() || c.tagName) + ' ' +
                   Math.round(r.width) + 'x' + Math.round(r.height));
    }
    return small;"""


# What must be in view at once, without scrolling: the whole list, and (on a
# desktop) the selected camera's pad and presets.
IN_VIEW = """
    const out = [];
    for (const e of document.querySelectorAll(arguments[0])) {
      const r = e.getBoundingClientRect();
      if (r.width === 0 || r.top < 0 || r.bottom > innerHeight || r.left < 0 || r.right > innerWidth)
        out.push((e.dataset.camera || e.className) + ' at ' + Math.round(r.top) + '..' + Math.round(r.bottom));
    }
    return out;"""

SIZES = [  # name, width, height, a phone, what must be in view, the camera shown
    ("desktop", 1366, 768, False, "#strip .entry, .card.selected .pad, .card.selected .preset-grid", "board"),
    ("phone", 390, 844, True, "#strip .entry", LONG),
]


@pytest.mark.parametrize("name,width,height,phone,in_view,camera", SIZES)
def test_the_console_fits_the_screen(room, browser, name, width, height, phone, in_view, camera):
    open_panel(browser, room["url"])
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                            {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": phone})
    try:
        WebDriverWait(browser, 5).until(lambda d: d.execute_script("return innerWidth") == width)
        browser.get(room["url"] + "#" + urllib.parse.quote(camera))  # the address names the camera to drive
        WebDriverWait(browser, 10).until(lambda d: entry(d, camera).get_attribute("aria-current") == "true")
        assert browser.execute_script(IN_VIEW, in_view) == []
        # Every camera of the room is picked from the list where it stands.
        for each in browser.find_elements(By.CSS_SELECTOR, "#strip .entry"):
            each.click()
            assert browser.find_element(By.CSS_SELECTOR, ".card.selected").get_attribute("data-camera") == \
                each.get_attribute("data-camera")
            assert browser.execute_script("return window.scrollY") == 0
        button(browser, camera, ".store summary" if camera == "board" else ".failure summary").click()
        assert browser.execute_script(IN_VIEW, in_view) == []
        shot = os.path.join(SHOTS, f"panel-{name}.png")
        assert browser.save_screenshot(shot)
        if phone:
            browser.find_element(By.ID, "find").click()  # the search dialog open, over the long name and reason
            WebDriverWait(browser, 10).until(lambda d: "answered" in d.find_element(By.CSS_SELECTOR, ".found-state").text)
            # The interface choice shows where the panel lists its interfaces, and only there.
            try:
                with urllib.request.urlopen(room["url"] + "api/interfaces", timeout=5) as answer:
                    listed = bool(json.load(answer).get("interfaces"))
            except urllib.error.HTTPError:
                listed = False
            assert browser.find_element(By.CSS_SELECTOR, ".found-where").is_displayed() == listed
            assert browser.save_screenshot(os.path.join(SHOTS, "panel-phone-find.png"))
            for shown in ("find", "pinned"):  # then a certificate's fingerprint, a word of 64 digits
                if shown == "pinned":
                    browser.find_element(By.CSS_SELECTOR, "#found form[method=dialog] button").click()
                    button(browser, "pinned", ".failure summary").click()
                wide = browser.execute_script("""return [...document.querySelectorAll('body *')].filter((e) =>
                    e.getBoundingClientRect().right > arguments[0] + 0.5).map((e) => e.tagName + '.' + e.className);""", width)
                assert not wide, (shown, wide)
                assert browser.execute_script("return document.documentElement.scrollWidth") <= width, shown
                assert browser.execute_script(SMALL_TARGETS) == []
            # The feed is a tab of its own: the cameras give way to it.
            browser.find_element(By.CSS_SELECTOR, '.tabs button[data-tab="reports"]').click()
            assert browser.find_element(By.CSS_SELECTOR, ".feed-box").is_displayed()
            assert not browser.find_element(By.ID, "strip").is_displayed()
            assert browser.save_screenshot(os.path.join(SHOTS, "panel-phone-feed.png"))
            browser.find_element(By.CSS_SELECTOR, '.tabs button[data-tab="cameras"]').click()
            # Scrolled down to the controls, the pinned header still names the camera and offers Stop all.
            browser.execute_script("window.scrollTo(0, document.body.scrollHeight)")
            assert browser.execute_script("return document.querySelector('header.top').getBoundingClientRect().top") == 0
            assert browser.find_element(By.ID, "stop-all").is_displayed()
            assert browser.find_element(By.ID, "selected").text == "keys drive: pinned"
        else:
            assert browser.find_element(By.CSS_SELECTOR, ".feed-box").is_displayed()
            assert not browser.find_element(By.CSS_SELECTOR, ".tabs").is_displayed()
        print("screenshot:", shot)
    finally:
        browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def test_a_card_offers_only_what_its_link_can_send(room, browser):
    open_panel(browser, room["url"])
    # The ONVIF camera takes no iris or switches: those are disabled and say why.
    for selector in ('button[data-motion="iris-open"]',
                     'button[data-switch="track"][data-on="true"]', 'button[data-switch="autowrite"][data-on="false"]'):
        control = button(browser, "room", selector)
        assert not control.is_enabled(), selector
        assert control.get_attribute("title").startswith("not on this link: "), selector
    assert button(browser, "room", '.switch[data-op="track"]').get_attribute("title").startswith("not on this link")
    cannot = button(browser, "room", ".cannot").text
    assert cannot.startswith("This link cannot send:") and "iris" in cannot and "track" in cannot, cannot
    assert button(browser, "room", 'button[data-motion="zoom-in"]').is_enabled()
    # The serial camera sends all of them, and says that it never answers.
    assert button(browser, "podium", 'button[data-motion="focus-far"]').is_enabled()
    assert not button(browser, "podium", ".cannot").is_displayed()
    assert "has not answered" in button(browser, "podium", ".unchecked").text
    assert not button(browser, "room", ".unchecked").is_displayed()


def test_preset_names_from_the_camera_file_are_on_the_buttons(room, browser):
    open_panel(browser, room["url"])
    serial = room["serial"]
    serial.skip_past()
    grid = button(browser, "podium", ".preset-grid")
    labels = [b.text.replace("\n", " ") for b in grid.find_elements(By.CSS_SELECTOR, "button")]
    # 1-12 in order, the named ones with their names, then a named preset beyond them.
    assert labels[:3] == ["1 lectern", "2 board", "3"], labels
    assert labels[-1] == "20 wide shot of the whole hall", labels
    assert len(labels) == 13, labels
    button(browser, "podium", '.preset-grid button[data-preset="20"]').click()
    serial.wait_for(r"pelco-d addr 1: go to preset 20")
    button(browser, "podium", '.preset-grid button[data-preset="1"]').click()
    serial.wait_for(r"pelco-d addr 1: go to preset 1 ")
    WebDriverWait(browser, 5).until(lambda d: button(d, "podium", ".message").text == "going to preset 1 (lectern)")
    # A camera without names shows bare numbers.
    assert button(browser, "board", '.preset-grid button[data-preset="1"]').text == "1"


def test_an_onvif_card_shows_where_the_camera_points_and_goes_home(room, browser):
    open_panel(browser, room["url"])
    onvif = room["onvif"]
    onvif.skip_past()
    # Position and home belong to the ONVIF camera's card alone.
    for camera in ("podium", "board", "spare"):
        assert not button(browser, camera, ".home-go").is_displayed(), camera
        assert not button(browser, camera, ".position").is_displayed(), camera
    position = button(browser, "room", ".position")
    WebDriverWait(browser, 5).until(lambda d: position.text.startswith("pan "))
    seen = [position.text]
    right = button(browser, "room", 'button[data-motion="right"]')
    ActionChains(browser).click_and_hold(right).perform()
    WebDriverWait(browser, 5).until(
        lambda d: (position.text != seen[-1] and seen.append(position.text)) or len(seen) >= 4)
    ActionChains(browser).release().perform()
    onvif.wait_for(r"Stop", timeout=2)
    print("positions shown while held:", seen)
    button(browser, "room", ".home-go").click()
    onvif.wait_for(r"GotoHomePosition")
    # Storing home is folded away, as storing a preset is.
    assert button(browser, "room", ".store-home").get_property("open") is False
    button(browser, "room", ".store-home summary").click()
    button(browser, "room", ".home-set").click()
    onvif.wait_for(r"SetHomePosition")
    WebDriverWait(browser, 5).until(lambda d: "as home" in button(d, "room", ".message").text)


def shows(driver, camera):
    """What a page shows of who drives the camera: its list note, its card's line, the take-back line."""
    taken = button(driver, camera, ".taken")
    return (entry(driver, camera).find_element(By.CSS_SELECTOR, ".entry-note").text,
            button(driver, camera, ".describe").text.split(" · ")[-1], taken.text if taken.is_displayed() else "")


TAKEN = ("taken over by page-", "held by page-", "taken over by another page\nTake back")
TAKE_OVER = [  # the step, then what page A and page B show after it
    ("A holds left", ("held by you", "held by you", ""), None),
    ("B holds right", TAKEN, ("held by you", "held by you", "")),
    ("A takes back", ("held by you", "held by you", ""), TAKEN),
]


def test_another_page_takes_a_camera_over_and_the_first_takes_it_back(room, browser):
    open_panel(browser, room["url"])
    other = chromium()
    serial = room["serial"]
    try:
        open_panel(other, room["url"])
        serial.skip_past()
        pages = {"A": browser, "B": other}
        for step, want_a, want_b in TAKE_OVER:
            page, verb, direction = step.split()
            driver = pages[page]
            if verb == "holds":
                ActionChains(driver).click_and_hold(button(driver, "podium", f'button[data-motion="{direction}"]')).perform()
                serial.wait_for(rf"pelco-d addr 1: pan {direction}")
            else:
                ActionChains(driver).release().perform()  # A let go of its refused hold first
                button(driver, "podium", ".take-back").click()
                serial.wait_for(r"pelco-d addr 1: stop", timeout=2)  # B's move ends as A takes the camera
            for name, want in (("A", want_a), ("B", want_b)):
                if want:
                    WebDriverWait(pages[name], 5).until(
                        lambda d: all(w in got if w else not got for w, got in zip(want, shows(d, "podium"))),
                        f"{step}: page {name} shows {shows(pages[name], 'podium')}, not {want}")
            if step == "B holds right":
                # A renews its hold all along: refused, so the camera never turns back to the left.
                assert serial.nothing_like(r"addr 1: pan left", within=1.0)
                assert browser.save_screenshot(os.path.join(SHOTS, "panel-taken-over.png"))
        ActionChains(other).release().perform()
        ActionChains(browser).click_and_hold(button(browser, "podium", 'button[data-motion="up"]')).perform()
        serial.wait_for(r"pelco-d addr 1: tilt up")  # A drives it again
        ActionChains(browser).release().perform()
        serial.wait_for(r"pelco-d addr 1: stop", timeout=2)
    finally:
        quit_chromium(other)


def test_a_camera_found_on_the_network_is_added_to_the_room(room, browser):
    if not os.environ.get("KORVANE_NETNS"):
        pytest.skip(os.environ.get("KORVANE_NETNS_SKIP", "not run in a network namespace of its own (run.sh does that)"))
    found = Process("sim", "onvif", "--port", "0", "--discoverable", "127.0.0.1", "--user", "admin", "--password", "secret")
    port = found.wait_for(r"http://127\.0\.0\.1:(\d+)/").group(1)
    path = write_cameras([{"name": "spare", "mode": "serial", "device": "/dev/korvane-unplugged"}])
    panel = Process("panel", "--cameras", path, "--listen", "127.0.0.1:0")
    try:
        browser.get(panel.wait_for(r"open (http://127\.0\.0\.1:\d+/)").group(1))
        WebDriverWait(browser, 10).until(lambda d: entry(d, "spare").get_attribute("data-state") == "failed")
        browser.find_element(By.ID, "find").click()
        again = browser.find_element(By.CSS_SELECTOR, "#found .found-again")
        WebDriverWait(browser, 10).until(lambda d: again.is_enabled() and "answered" in d.find_element(By.CSS_SELECTOR, ".found-state").text)
        Select(browser.find_element(By.CSS_SELECTOR, ".found-interface")).select_by_value("127.0.0.1")
        again.click()
        WebDriverWait(browser, 10).until(lambda d: again.is_enabled() and "1 camera(s) answered" in d.find_element(By.CSS_SELECTOR, ".found-state").text)
        item = browser.find_element(By.CSS_SELECTOR, ".found-list li")
        assert f"127.0.0.1:{port}" in item.find_element(By.CSS_SELECTOR, ".found-what").text
        for field, value in (("name", "stage"), ("user", "admin"), ("password", "secret")):
            item.find_element(By.NAME, field).clear()
            item.find_element(By.NAME, field).send_keys(value)
        item.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
        said = item.find_element(By.CSS_SELECTOR, ".add-state")
        WebDriverWait(browser, 10).until(lambda d: said.text.startswith("added") or "bad" in said.get_attribute("class"))
        assert said.text.startswith("added"), said.text
        assert browser.save_screenshot(os.path.join(SHOTS, "panel-found-added.png"))
        browser.find_element(By.CSS_SELECTOR, "#found form[method=dialog] button").click()
        WebDriverWait(browser, 10).until(lambda d: entry(d, "stage").get_attribute("data-state") == "open")
        with open(path) as file:
            written = {c["name"]: c for c in json.load(file)["cameras"]}
        assert set(written) == {"spare", "stage"} and written["stage"]["mode"] == "onvif", written
        assert str(port) in json.dumps(written["stage"]) and written["stage"]["user"] == "admin", written
    finally:
        panel.stop()
        found.stop()
        os.unlink(path)
