#!/usr/bin/env python3
"""Makes korvane(1) (with help2man) and the bash completion from the tool's help.

    help_docs.py KORVANE OUT_DIR      writes OUT_DIR/korvane.1 and OUT_DIR/korvane.bash

Both come from the tool's own output (`--help`, `help PAGE`, and the list of
pages its refusal of an unknown page gives), so that a new command or option
shows in both without editing them. help2man reads the usage through
`help_docs.py run KORVANE ARGS`, which spells it as help2man expects
("Usage:" and "or:" lines).
"""
import os
import re
import shlex
import subprocess
import sys


def run(tool, *args):
    done = subprocess.run([tool, *args], capture_output=True, text=True, timeout=30)
    return done.returncode, done.stdout, done.stderr


def pages(tool):
    code, _, err = run(tool, "help", "--no-such-page--")
    found = re.search(r"the pages are:([a-z -]+)", err)
    if code != 2 or not found:
        sys.exit(f"help_docs: korvane did not list its help pages (exit {code}): {err.strip()}")
    return found.group(1).split()


def roff(text):
    # A line that starts with a dot or a quote would be read as a request.
    lines = []
    for line in text.replace("\\", "\\e").splitlines():
        lines.append("\\&" + line if line.startswith((".", "'")) else line)
    return "\n".join(lines)


def pages_include(tool, names):
    out = ["[COMMANDS]", "Each command's page, as `korvane help COMMAND` prints it."]
    for name in names:
        _, text, _ = run(tool, "help", name)
        out += [".SS " + name, ".nf", roff(text.rstrip("\n")), ".fi"]
    out += ["[FILES]", ".TP", ".I cameras.json",
            "The camera file that --camera NAME and the panel read (korvane help cameras).",
            ".TP", ".I /etc/korvane/cameras.json, /etc/korvane/panel.token",
            "The camera file and token of the korvane-panel service, when the panel runs as one."]
    return "\n".join(out) + "\n"


def completion(tool, names):
    texts = [run(tool, "--help")[1]] + [run(tool, "help", n)[1] for n in names]
    text = "\n".join(texts)
    options = sorted(set(re.findall(r"(?<![\w-])(--[a-z][a-z0-9-]*)", text)) | {"--help", "--version"})
    # Options whose value is a path: shown as "--opt FILE" or "--opt DEVICE".
    paths = sorted(set(re.findall(r"(--[a-z][a-z0-9-]*)[ =](?:FILE|DEVICE)\b", text)))
    # "word a|b|c": the words that may follow a command or an option.
    follow = {}
    for word, choices in re.findall(r"(?<![\w|-])(--[a-z][a-z0-9-]*|[a-z][a-z-]*) ([a-z][a-z0-9-]*(?:\|[a-z][a-z0-9-]*)+)", text):
        follow.setdefault(word, set()).update(choices.split("|"))
    usage = texts[0]
    commands = set(re.findall(r"^ +korvane (?:\[[^]]*\] )?([a-z][a-z-]*)", usage, re.M))
    section = usage.split("\ncommands:\n", 1)[-1].split("\n\n", 1)[0]
    for line in section.splitlines():
        # The first column: "up down left ...", "zoom in|out, focus far|near", "preset go|set|clear N".
        for part in re.split(r",\s*", re.split(r"\s{2,}", line.strip())[0]):
            words = part.split()
            plain = all(re.fullmatch(r"[a-z][a-z-]*", w) for w in words)
            commands.update(words if plain else words[:1])
    commands = {c for c in commands if re.fullmatch(r"[a-z][a-z-]*", c)} | {"help"}
    cases = "".join(f"    {w}) words='{' '.join(sorted(c))}' ;;\n" for w, c in sorted(follow.items()))
    return f"""# bash completion for korvane, made from its own help when it was built
_korvane()
{{
    local cur=${{COMP_WORDS[COMP_CWORD]}} prev=${{COMP_WORDS[COMP_CWORD-1]}} words=
    case $prev in
    {'|'.join(paths) or '--no-path-option'})
        COMPREPLY=($(compgen -f -- "$cur")); return ;;
    help) words='{' '.join(names)}' ;;
{cases}    *)
        if [[ $cur == -* ]]; then words='{' '.join(options)}'
        else words='{' '.join(sorted(commands))}'; fi ;;
    esac
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
}}
complete -F _korvane korvane
"""


def run_for_help2man(tool, args):
    code, text, err = run(tool, *args)
    text = re.sub(r"^usage: ", "Usage: ", text, count=1)
    text = re.sub(r"^       korvane ", "  or:  korvane ", text, flags=re.M)
    sys.stdout.write(text)
    sys.stderr.write(err)
    return code


def main():
    if sys.argv[1] == "run":
        return run_for_help2man(sys.argv[2], sys.argv[3:])
    tool, out = os.path.abspath(sys.argv[1]), sys.argv[2]
    names = pages(tool)
    include = os.path.join(out, "korvane.h2m")
    with open(include, "w", encoding="utf-8") as f:
        f.write(pages_include(tool, names))
    with open(os.path.join(out, "korvane.bash"), "w", encoding="utf-8") as f:
        f.write(completion(tool, names))
    wrapper = os.path.join(out, "korvane")
    with open(wrapper, "w", encoding="utf-8") as f:
        f.write("#!/bin/sh\nexec %s %s run %s \"$@\"\n" % tuple(
            shlex.quote(p) for p in (sys.executable, os.path.abspath(__file__), tool)))
    os.chmod(wrapper, 0o755)
    subprocess.run(["help2man", "--no-info", "--section=1", "--include=" + include,
                    "--name=drive PTZ cameras of a presenter-tracking system",
                    "--output=" + os.path.join(out, "korvane.1"), wrapper], check=True, timeout=120)
    return 0


if __name__ == "__main__":
    sys.exit(main())
