"""A PEP 517 build back-end for the korvane package: pure Python files into a
wheel, with the standard library only, so installing needs no network."""

import base64
import hashlib
import importlib.util
import io
import os
import tarfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _project_version():
    """The package's own reader: the project's CMakeLists.txt in a source
    tree, korvane/VERSION in an sdist."""
    loader_info = importlib.util.spec_from_file_location("_korvane_version", os.path.join(ROOT, "korvane", "_version.py"))
    module = importlib.util.module_from_spec(loader_info)
    loader_info.loader.exec_module(module)
    return module.read_version()


NAME, VERSION = "korvane", _project_version()
DIST_INFO = f"{NAME}-{VERSION}.dist-info"
TAG = "py3-none-any"

METADATA = f"""Metadata-Version: 2.1
Name: {NAME}
Version: {VERSION}
Summary: Drive PTZ cameras of a presenter-tracking system through the Korvanu library (ctypes)
Requires-Python: >=3.8
"""
WHEEL = f"""Wheel-Version: 1.0
Generator: korvane-backend
Root-Is-Purelib: true
Tag: {TAG}
"""


def _package_files():
    package = os.path.join(ROOT, NAME)
    for name in sorted(os.listdir(package)):
        if name.endswith(".py") or name == "py.typed":  # py.typed: the package has type hints
            yield f"{NAME}/{name}", os.path.join(package, name)


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    target = os.path.join(metadata_directory, DIST_INFO)
    os.makedirs(target, exist_ok=True)
    for name, text in (("METADATA", METADATA), ("WHEEL", WHEEL)):
        with open(os.path.join(target, name), "w", encoding="utf-8") as out:
            out.write(text)
    return DIST_INFO


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    filename = f"{NAME}-{VERSION}-{TAG}.whl"
    records = []
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as wheel:
        entries = [(path, open(source, "rb").read()) for path, source in _package_files()]
        entries += [(f"{NAME}/VERSION", f"{VERSION}\n".encode())]
        entries += [(f"{DIST_INFO}/METADATA", METADATA.encode()), (f"{DIST_INFO}/WHEEL", WHEEL.encode())]
        for path, data in entries:
            wheel.writestr(path, data)
            records.append(_record_line(path, data))
        records.append(f"{DIST_INFO}/RECORD,,")
        wheel.writestr(f"{DIST_INFO}/RECORD", "\n".join(records) + "\n")
    return filename


def build_sdist(sdist_directory, config_settings=None):
    base = f"{NAME}-{VERSION}"
    filename = f"{base}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, filename), "w:gz") as sdist:
        for relative in ["pyproject.toml", "_build/backend.py"] + [p for p, _ in _package_files()]:
            sdist.add(os.path.join(ROOT, relative), arcname=f"{base}/{relative}")
        for name, text in (("PKG-INFO", METADATA), (f"{NAME}/VERSION", f"{VERSION}\n")):
            info = tarfile.TarInfo(f"{base}/{name}")
            data = text.encode()
            info.size = len(data)
            sdist.addfile(info, io.BytesIO(data))
    return filename
