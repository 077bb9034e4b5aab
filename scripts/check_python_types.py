"""mypy --strict on the korvane package and on the README's Python example.

Usage: check_python_types.py SOURCE_DIR (Debian's mypy, run by ctest)."""
import os
import re
import subprocess
import sys
import tempfile

source = sys.argv[1]
with open(os.path.join(source, "README.md"), encoding="utf-8") as readme:
    examples = re.findall(r"```python\n(.*?)```", readme.read(), re.S)
if not examples:
    sys.exit("README.md has no Python example")
with tempfile.TemporaryDirectory() as folder:
    example = os.path.join(folder, "readme_example.py")
    with open(example, "w", encoding="utf-8") as out:
        out.write("\n".join(examples))
    env = dict(os.environ, MYPYPATH=os.path.join(source, "python"))
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
                          os.path.join(source, "python", "korvane"), example], env=env)
sys.exit(run.returncode)
