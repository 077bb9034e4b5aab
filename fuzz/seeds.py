#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/. The targets read their inputs
with libFuzzer's FuzzedDataProvider: numbers are taken from the end of the
input (last byte first, most significant first), bytes and text from the
front. Run from the repository root; the files are committed."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


class Seed:
    def __init__(self):
        self.front = b""
        self.tail = []  # numbers in the order the target takes them

    def num(self, value, size):
        value &= (1 << (8 * size)) - 1
        self.tail.append(value.to_bytes(size, "big"))
        return self

    def int32(self, value):  # ConsumeIntegral<int>: offset from INT_MIN
        return self.num(value + 2**31, 4)

    def text(self, data):  # ConsumeRandomLengthString: "\\" ends, "\\\\" is one
        if isinstance(data, str):
            data = data.encode()
        self.front += data.replace(b"\\", b"\\\\") + b"\\ "
        return self

    def raw(self, data):
        self.front += data.encode() if isinstance(data, str) else data
        return self

    def bytes(self):
        # The first number taken is the last byte: lay the numbers out from
        # the end backwards.
        out = bytearray()
        for chunk in self.tail:
            out[0:0] = chunk[::-1]
        return self.front + bytes(out)


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.bytes())


ALL = 0xFFFFFFFFFFFFFFFF

# Serial line: every address bound (or a pattern), then chunks of 1..64.
def serial(name, chunks, pattern=ALL):
    seed = Seed().num(pattern, 8)
    for chunk in chunks:
        seed.num(len(chunk) - 1, 1)  # ConsumeIntegralInRange(1, 64): one byte, 1 + b % 64
        seed.raw(chunk)
    write("serial_frames", name, seed)

example = bytes([0x00, 0x41, 0xFF, 0x01, 0x00, 0x07, 0x00, 0x50, 0x58])
serial("leading-bytes-then-frame", [example])
serial("byte-by-byte", [bytes([b]) for b in example])
serial("address-10-and-12", [bytes([0xFF, 0x10, 0, 0, 0, 0x51, 0]), bytes([0xFF, 0x12, 0, 0, 0, 0x57, 0xFF, 0xFF])])
serial("every-code", [bytes([0xFF, 0x01, 0, 0, 0, c, 0]) for c in range(0x4F, 0x59)], pattern=0x5555555555555555)
serial("packed-decimal-edges", [bytes([0xFF, a, 0, 0, 0, 0x50, 0]) for a in (0x1A, 0xB2, 0x99, 0x0A, 0xFF, 0x80)])
serial("frame-split-across-reads", [bytes([0xFF, 0x02, 0x00]), bytes([0x07, 0x00, 0x52, 0x5B, 0xFF]), bytes([0xFF] * 12)])

# Tracking reports: pattern, then datagrams (length 0..2048, two bytes).
def tracking(name, datagrams, pattern=ALL):
    seed = Seed().num(pattern, 8)
    for datagram in datagrams:
        seed.num(len(datagram), 2)
        seed.raw(datagram)
    write("tracking_reports", name, seed)

tracking("appears-disappears", [bytes([0xAA, 0x50, 0x02, 0x01, 0x01]), bytes([0xAA, 0x50, 0x02, 0x12, 0x00])])
tracking("bad-state-and-length", [bytes([0xAA, 0x50, 0x02, 0x01, 0x02]), bytes([0xAA, 0x50, 0x02, 0x01, 0x01, 0x00]),
                                  bytes([0xAA, 0x50, 0x02, 0x01])])
tracking("signed-address", [bytes([0xAA, 0x50, 0x02, a, 0x01]) for a in (0x80, 0x85, 0x7F, 0x1A, 0x00)],
         pattern=0x0F0F0F0F0F0F0F0F)
tracking("other-header", [bytes([0xAA, 0x40, 0x02, 0x01, 0x01]), bytes([0xAB, 0x50, 0x02, 0x01, 0x01])])

# Relay datagrams: an event port, then the datagram.
for name, text, port in (("appears", b"APPEARS", 20716), ("disappears-zero-junk", b"DISAPPEARS\0junk", 1),
                         ("refusal", b"FAI", 65535), ("refusal-longer", b"FAIL", 0), ("answer-ok", b"OK\0\0\0", 4660),
                         ("appears-too-long", b"APPEARS\0" + b"x" * 1020, 20715)):
    write("relay_datagrams", name, Seed().num(port, 2).raw(text))

# VISCA-over-IP replies: the datagram, then a library speed (int32 at the end).
def visca_ip(name, type_, seq, payload, speed=32, length=None):
    header = type_.to_bytes(2, "big") + (len(payload) if length is None else length).to_bytes(2, "big") + seq.to_bytes(4, "big")
    write("visca_ip_replies", name, Seed().int32(speed).raw(header + bytes(payload)))

visca_ip("ack", 0x0111, 1, [0x90, 0x41, 0xFF])
visca_ip("completion", 0x0111, 2, [0x90, 0x51, 0xFF], speed=-1)
visca_ip("pan-tilt-position", 0x0111, 3, [0x90, 0x50, 0x0F, 0x0F, 0x0F, 0x03, 0x00, 0x00, 0x01, 0x0B, 0xFF], speed=63)
visca_ip("zoom-position", 0x0111, 4, [0x90, 0x50, 0x04, 0x00, 0x00, 0x00, 0xFF], speed=0)
visca_ip("error-not-executable", 0x0111, 5, [0x90, 0x61, 0x41, 0xFF], speed=2**31 - 1)
visca_ip("reset-reply", 0x0201, 0, [0x01])
visca_ip("sequence-error", 0x0200, 0xFFFFFFFF, [0x0F, 0x01])
visca_ip("length-field-lies", 0x0111, 6, [0x90, 0x41, 0xFF], length=0xFFFF)

# WS-Security: the case first (one byte).
write("wssecurity", "base64-bytes", Seed().num(0, 1).raw(bytes(range(40))))
write("wssecurity", "base64-nonce", Seed().num(1, 1).raw("LKqI6G/AikKCQrN0zqZFlg=="))
write("wssecurity", "base64-padding-odd", Seed().num(1, 1).raw("ab=c===="))
def fields(name, y, mo, d, h, mi, s):
    seed = Seed().num(2, 1)
    for value in (y, mo, d, h, mi, s):
        seed.int32(value)
    write("wssecurity", name, seed)
fields("date-2026", 2026, 12, 6, 15, 4, 5)
fields("date-leap-second", 2016, 12, 31, 23, 59, 60)
fields("date-year-3000", 3000, 1, 1, 0, 0, 0)   # beyond the clock's range
fields("date-year-1710", 1710, 6, 1, 12, 0, 0)  # within range, far from now
write("wssecurity", "token-specials", Seed().num(3, 1).text("ad<m>&in\"'").text("p\\ss&").num(1765033445, 5))  # seconds up to 9999: five bytes

# ONVIF answers.
NS = ('xmlns:env="http://www.w3.org/2003/05/soap-envelope" xmlns:sch="http://www.onvif.org/ver10/schema" '
      'xmlns:dev="http://www.onvif.org/ver10/device/wsdl" xmlns:med="http://www.onvif.org/ver10/media/wsdl" '
      'xmlns:ptz="http://www.onvif.org/ver20/ptz/wsdl"')
def envelope(body):
    return '<?xml version="1.0" encoding="UTF-8"?><env:Envelope %s><env:Body>%s</env:Body></env:Envelope>' % (NS, body)
def answers(*parts):
    return "\n%%\n".join(parts)
def ok(body):
    return "200\n" + envelope(body)

def clock(y, mo, d, h, mi, s):
    return ok("<dev:GetSystemDateAndTimeResponse><dev:SystemDateAndTime><sch:DateTimeType>NTP</sch:DateTimeType>"
              "<sch:UTCDateTime><sch:Time><sch:Hour>%d</sch:Hour><sch:Minute>%d</sch:Minute><sch:Second>%d</sch:Second>"
              "</sch:Time><sch:Date><sch:Year>%d</sch:Year><sch:Month>%d</sch:Month><sch:Day>%d</sch:Day></sch:Date>"
              "</sch:UTCDateTime></dev:SystemDateAndTime></dev:GetSystemDateAndTimeResponse>" % (h, mi, s, y, mo, d))
BASE = "http://192.0.2.10:8080/onvif/"
CAPS = ok("<dev:GetCapabilitiesResponse><dev:Capabilities><sch:Device><sch:XAddr>%sdevice_service</sch:XAddr></sch:Device>"
          "<sch:Media><sch:XAddr>%smedia_service</sch:XAddr></sch:Media><sch:PTZ><sch:XAddr>%sptz_service</sch:XAddr>"
          "</sch:PTZ></dev:Capabilities></dev:GetCapabilitiesResponse>" % (BASE, BASE, BASE))
SERVICES = ok("<dev:GetServicesResponse><dev:Service><dev:Namespace>http://www.onvif.org/ver10/media/wsdl</dev:Namespace>"
              "<dev:XAddr>%smedia_service</dev:XAddr></dev:Service><dev:Service><dev:Namespace>"
              "http://www.onvif.org/ver20/ptz/wsdl</dev:Namespace><dev:XAddr>%sptz_service</dev:XAddr></dev:Service>"
              "</dev:GetServicesResponse>" % (BASE, BASE))
PROFILES = ok('<med:GetProfilesResponse><med:Profiles token="Profile_Sub" fixed="true"><sch:Name>sub</sch:Name>'
              '</med:Profiles><med:Profiles token="Profile_1" fixed="true"><sch:Name>main</sch:Name>'
              '<sch:PTZConfiguration token="PTZConfig_1"><sch:Name>ptz</sch:Name></sch:PTZConfiguration>'
              '</med:Profiles></med:GetProfilesResponse>')
CONFIGS = ok('<ptz:GetConfigurationsResponse><ptz:PTZConfiguration token="PTZConfig_1"><sch:Name>ptz</sch:Name>'
             '</ptz:PTZConfiguration></ptz:GetConfigurationsResponse>')
OPTIONS = ok("<ptz:GetConfigurationOptionsResponse><ptz:PTZConfigurationOptions><sch:Spaces/>"
             "</ptz:PTZConfigurationOptions></ptz:GetConfigurationOptionsResponse>")
PRESETS = ok('<ptz:GetPresetsResponse><ptz:Preset token="P1"><sch:Name>1</sch:Name></ptz:Preset>'
             '<ptz:Preset token="P7"><sch:Name>7</sch:Name></ptz:Preset><ptz:Preset token="Home"><sch:Name>home</sch:Name>'
             '</ptz:Preset><ptz:Preset token="P300"><sch:Name>300</sch:Name></ptz:Preset>'
             '<ptz:Preset token="P0"><sch:Name>01</sch:Name></ptz:Preset></ptz:GetPresetsResponse>')
SETPRESET = ok("<ptz:SetPresetResponse><ptz:PresetToken>P5</ptz:PresetToken></ptz:SetPresetResponse>")
FAULT = ("400\n" + envelope('<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:NotAuthorized'
         '</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang="en">Sender not authorized</env:Text>'
         '</env:Reason></env:Fault>'))
EMPTY_OK = lambda name: ok("<ptz:%sResponse/>" % name)

def onvif_answer(name, operation, text):
    write("onvif_answers", name, Seed().num(operation, 1).raw(text))  # ConsumeIntegralInRange(0, 8): one byte

onvif_answer("clock", 0, answers(clock(2026, 12, 6, 15, 4, 5), EMPTY_OK("Stop")))
onvif_answer("clock-year-3000", 0, answers(clock(3000, 1, 1, 0, 0, 0), EMPTY_OK("Stop")))
onvif_answer("clock-year-1710", 0, answers(clock(1710, 6, 1, 12, 0, 0), EMPTY_OK("Stop")))
onvif_answer("clock-fault", 0, answers(FAULT))
onvif_answer("capabilities-media", 1, answers(CAPS))
onvif_answer("services-ptz", 2, answers(FAULT, SERVICES))
onvif_answer("profiles", 3, PROFILES)
onvif_answer("configurations", 4, CONFIGS)
onvif_answer("configuration-options", 5, OPTIONS)
onvif_answer("presets", 6, PRESETS)
onvif_answer("set-preset", 7, SETPRESET)
onvif_answer("set-preset-fault", 7, FAULT)
onvif_answer("malformed", 7, "200\n<env:Envelope><env:Body><ptz:Oops></env:Bo")
# The structured clock answer: case 8, then bool, year, month, day, hour, minute, second, prefix.
def structured_clock(name, y, mo, d, h, mi, s, prefix=0):
    seed = Seed().num(8, 1)
    if 1970 <= y <= 2200:
        seed.num(1, 1).num(y - 1970, 1)
    else:
        seed.num(0, 1).int32(y)
    for value, low in ((mo, 0), (d, 0), (h, -1), (mi, -1), (s, -1)):
        seed.num(value - low, 1)
    seed.num(prefix, 1)
    write("onvif_answers", name, seed)
structured_clock("structured-clock", 2026, 12, 6, 15, 4, 5)
structured_clock("structured-clock-year-3000", 3000, 1, 1, 0, 0, 0, 1)
structured_clock("structured-clock-year-1710", 1710, 6, 1, 12, 0, 0, 2)

# The client's flow: user choice, password bool, calls, then the answers.
def flow(name, calls, parts, user=0, password=1):
    seed = Seed().num(user, 1).num(password, 1).num(len(calls), 1)
    for call in calls:
        seed.num(call, 1)
    seed.raw(answers(*parts))
    write("onvif_client", name, seed)

MOVE, STOP, SET, GOTO, REMOVE, CLEAR, OPEN, INIT = range(8)
READY = [clock(2026, 12, 6, 15, 4, 5), CAPS, PROFILES, CONFIGS, OPTIONS, PRESETS]
flow("ready-camera", [MOVE, STOP | 8, SET | 5 << 3, GOTO | 5 << 3, GOTO | 9 << 3, REMOVE | 5 << 3],
     READY + [EMPTY_OK("ContinuousMove"), EMPTY_OK("Stop"), SETPRESET, EMPTY_OK("GotoPreset"), SETPRESET,
              EMPTY_OK("GotoPreset"), EMPTY_OK("RemovePreset")])
flow("services-only", [MOVE, INIT, MOVE], [clock(2026, 1, 1, 0, 0, 0), FAULT, SERVICES] + READY[2:] +
     [EMPTY_OK("ContinuousMove"), clock(2026, 1, 1, 0, 0, 0), FAULT, SERVICES, EMPTY_OK("ContinuousMove")])
flow("no-user", [MOVE, CLEAR, GOTO | 1 << 3], READY + [EMPTY_OK("ContinuousMove"), EMPTY_OK("GotoPreset")], user=1, password=0)
flow("silent-camera", [MOVE, STOP], ["0\n"])
flow("unauthorized", [MOVE], [clock(2026, 12, 6, 15, 4, 5), FAULT, FAULT], user=2)
flow("clock-year-3000", [MOVE], [clock(3000, 1, 1, 0, 0, 0)] + READY[1:] + [EMPTY_OK("ContinuousMove")])
flow("clock-year-1710", [MOVE], [clock(1710, 6, 1, 12, 0, 0)] + READY[1:] + [EMPTY_OK("ContinuousMove")])

# The tool's command line: words separated by zero bytes.
for name, words in (("serial-move", ["--serial", "/dev/ttyUSB0", "--address", "2", "left", "--for", "1.5s"]),
                    ("network", ["--network=192.168.1.64", "--user", "admin", "--password", "secret", "--port", "80",
                                 "zoom", "in", "--for", "500ms"]),
                    ("relay", ["--network", "192.168.1.70", "--device-type", "relay4", "--value4", "4294967295",
                               "--text7", "x", "track", "on"]),
                    ("tracking", ["--tracking", "192.168.1.20", "--port", "5000", "--system-type", "2", "--protocol",
                                  "visca", "--speed", "63", "listen"]),
                    ("visca-ip", ["--network=192.168.1.64", "--device-type", "16", "--speed", "9", "up-left"]),
                    ("mistakes", ["--baud", "-1", "--data-bits", "4", "--for", "1e999s", "--", "-h"])):
    write("command_line", name, "\0".join(words).encode())

# The tool's camera file.
for name, text in (
        ("room", '{"cameras": [\n  {"name": "podium", "mode": "serial", "device": "/dev/ttyUSB0", "baud": 9600,\n'
                 '   "protocol": "pelco-d", "address": 1},\n  {"name": "room", "mode": "onvif", "host": "192.168.1.64",'
                 ' "port": 80, "user": "admin", "password": "s3cret-pass"}\n]}\n'),
        ("relay-and-tracking", '{"cameras": [{"name": "r", "mode": "relay4", "host": "::1", "port": 80, "value4": 9600,'
                               ' "text7": "x", "protocol": "pelco-p", "address": 3},'
                               ' {"name": "t", "mode": "tracking", "host": "192.168.1.20", "port": 5000,'
                               ' "system_type": 1, "pan_speed": 63, "tilt_speed": 0}]}'),
        ("mistakes", '{"cameras": [{"name": "a", "mode": "onvif", "host": "camera.local", "password": "hunter22"},'
                     ' {"name": "a", "mode": "serial"}]}'),
        ("not-json", '{"cameras": [{"name": "a", "password": "letmein99", }]}')):
    write("camera_file", name, text.encode())

# Requests that run out of time: nothing more is asked within that call.
flow("out-of-time", [MOVE, GOTO | 3 << 3, MOVE], [clock(2026, 12, 6, 15, 4, 5), "T\n"])
flow("out-of-time-later", [GOTO | 3 << 3, MOVE], READY + ["T\n", EMPTY_OK("ContinuousMove")])

# The panel: first byte even, one HTTP request; odd, one push message.
def panel_request(name, method, target, body=b"", headers=b""):
    if isinstance(body, str):
        body = body.encode()
    head = (method + " ").encode() + target + b" HTTP/1.1\r\nHost: 127.0.0.1:8420\r\n" + headers
    if body:
        head += b"Content-Type: application/json\r\nContent-Length: " + str(len(body)).encode() + b"\r\n"
    write("panel", name, b"\x00" + head + b"\r\n" + body)

def panel_message(name, text):
    write("panel", name, b"\x01" + (text.encode() if isinstance(text, str) else text))

panel_request("cameras", "GET", b"/api/cameras")
panel_request("feed-keep-alive", "GET", b"/api/feed", headers=b"Connection: keep-alive\r\n")
panel_request("page-head", "HEAD", b"/?token=a%2Bb")
panel_request("unknown-camera-ff", "GET", b"/api/cameras/%FF")
panel_request("raw-byte-in-path", "GET", b"/api/cameras/\xff\xfe/move")
panel_request("move", "POST", b"/api/cameras/podium/move", '{"direction": "left", "hold_ms": 500}')
panel_request("move-latin1", "POST", b"/api/cameras/podium/move", b'{"direction": "\xe9"}')
panel_request("preset", "POST", b"/api/cameras/B%C3%BChne/preset", '{"action": "set", "number": 7}')
panel_request("speed", "POST", b"/api/cameras/podium/speed", '{"pan": 10, "tilt": 63}')
panel_request("bearer", "GET", b"/api/cameras", headers=b"Authorization: bearer x\r\nOrigin: http://evil\r\n")
panel_message("hold", '{"op": "hold", "camera": "podium", "motion": "up-left"}')
panel_message("release-all-escapes", '{"op": "release-all", "why": "\\u001b]0;x\\u0007"}')
panel_message("hold-bad-utf8", b'{"op": "hold", "camera": "\xff", "motion": "up"}')
panel_message("not-object", '[1, {"op": 2}]')
