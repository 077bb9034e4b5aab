"""mypy --strict on the korvane package and on the Python examples of
README.md and docs/*.md.

Usage: check_python_types.py SOURCE_DIR (Debian's mypy, run by ctest)."""
import glob
import os
import re
import subprocess
import sys
import tempfile

source = sys.argv[1]
pages = [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "docs", "*.md")))
with tempfile.TemporaryDirectory() as folder:
    examples = []
    for page in pages:
        with open(page, encoding="utf-8") as text:
            for number, example in enumerate(re.findall(r"```python\n(.*?)```", text.read(), re.S)):
                # One module per example: each stands alone, as a reader would copy it.
                name = f"{os.path.basename(page)[:-3].replace('-', '_')}_example_{number}.py"
                with open(os.path.join(folder, name), "w", encoding="utf-8") as out:
                    out.write(example)
                examples.append(os.path.join(folder, name))
    if not any(os.path.basename(e).startswith("README_") for e in examples):
        sys.exit("README.md has no Python example")
    env = dict(os.environ, MYPYPATH=os.path.join(source, "python"))
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull,
                          os.path.join(source, "python", "korvane")] + examples, env=env)
sys.exit(run.returncode)
