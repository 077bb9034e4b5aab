"""The package's version: the project's one version, written beside the
package when it is installed, or read from the project's CMakeLists.txt when
the package is used from the source tree."""

import os
import re

_HERE = os.path.dirname(os.path.abspath(__file__))
_SOURCES = (
    (os.path.join(_HERE, "VERSION"), r"^\s*([0-9]+\.[0-9]+\.[0-9]+)\s*$"),
    (os.path.join(_HERE, "..", "..", "CMakeLists.txt"), r"project\(Korvane VERSION ([0-9]+\.[0-9]+\.[0-9]+)"),
)


def read_version() -> str:
    """The version text, e.g. "0.2.0"; "unknown" when neither source is there."""
    for path, pattern in _SOURCES:
        try:
            with open(path, encoding="utf-8") as source:
                found = re.search(pattern, source.read(), re.MULTILINE)
        except OSError:
            continue
        if found:
            return found.group(1)
    return "unknown"
