#!/usr/bin/env python3
"""Every command and option a tool takes is in its --help, its manual page
and its bash completion, and its manual page names no option it does not
take; every tool tells one version.

The help is made from the tables the tool's parser reads, so what it lists
is what the tool takes. Usage: check_tool_docs.py MANDIR COMPLETION TOOL...
(each TOOL the path of a built pelk, oamtab, zbhost or pelk-sandbox).
"""
import os
import re
import subprocess
import sys

failures = []


def fail(what):
    failures.append(what)


def run(*words):
    return subprocess.run(words, capture_output=True, text=True).stdout


def sections(help_text):
    """{"Commands:": [lines], "Options:": [lines], ...} of a help text."""
    found, current = {}, None
    for line in help_text.splitlines():
        if re.fullmatch(r"[A-Z][a-z]*:", line):
            current = found.setdefault(line, [])
        elif not line:
            current = None
        elif current is not None:
            current.append(line)
    return found


def options(help_text):
    """The options a help lists: [("-c" or "", "--count")]."""
    listed = []
    for line in sections(help_text).get("Options:", []):
        call = re.match(r"  (-\w), (--[\w-]+)|      (--[\w-]+)", line)
        if call:
            listed.append((call.group(1) or "", call.group(2) or call.group(3)))
    return listed


def check_help(tool, help_text):
    if not help_text.startswith("Usage: " + tool + " "):
        fail(f"{tool} {help_text[:40]!r}...: no Usage line first")
    for section in ("Options:", "Examples:"):
        if section not in sections(help_text):
            fail(f"{tool}: help has no {section}")


def completion(script, path, queries):
    """The candidates the completion offers for each query (list of words,
    the last one at the cursor)."""
    lines = [f"source {script!r}"]
    for words in queries:
        quoted = " ".join("'" + word + "'" for word in words)
        lines.append(f"COMP_WORDS=({quoted}); COMP_CWORD={len(words) - 1}; COMPREPLY=(); "
                     f"_pelk_tools {words[0]}; echo \"${{COMPREPLY[*]}}\"")
    result = subprocess.run(["bash", "-c", "\n".join(lines)], capture_output=True, text=True,
                            env=dict(os.environ, PATH=path))
    return [set(line.split()) for line in result.stdout.splitlines()]


def main():
    mandir, script, tools = sys.argv[1], sys.argv[2], sys.argv[3:]
    path = os.pathsep.join([os.path.dirname(os.path.abspath(tool)) for tool in tools] +
                           [os.environ.get("PATH", "")])
    versions = set()
    for tool_path in tools:
        tool = os.path.basename(tool_path)
        # Every tool tells its version, the same for all.
        version = run(tool_path, "--version").split()
        if version[:1] != [tool]:
            fail(f"{tool} --version says {' '.join(version)!r}")
        versions.add(" ".join(version[1:2]))
        pages = [name for name in os.listdir(mandir) if re.fullmatch(re.escape(tool) +
                                                                     r"\.\d\.scd", name)]
        if len(pages) != 1:
            fail(f"{tool}: no manual page in {mandir}")
            continue
        page = open(os.path.join(mandir, pages[0]), encoding="utf-8").read()
        if "# EXAMPLES" not in page:
            fail(f"{pages[0]}: no EXAMPLES")
        top = run(tool_path, "--help")
        check_help(tool, top)
        commands = [line.split()[0] for line in sections(top).get("Commands:", [])
                    if line.startswith("  ") and not line.startswith("   ")]
        taken = {"": options(top)}
        for command in commands:
            text = run(tool_path, command, "--help")
            check_help(tool, text)
            taken[command] = options(text)
        # In the manual page, bold as the page writes them.
        for command in commands:
            if f"*{command}*" not in page:
                fail(f"{pages[0]}: command {command} missing")
        every = {name for listed in taken.values() for pair in listed for name in pair if name}
        for name in sorted(every):
            if f"*{name}*" not in page:
                fail(f"{pages[0]}: option {name} missing")
        for named in sorted(set(re.findall(r"\*(--?\w[\w-]*)\*", page)) - every):
            fail(f"{pages[0]}: names {named}, which {tool} does not take")
        # The completion offers every command and every long option.
        queries = [[tool, ""], [tool, "-"]] + [[tool, command, "-"] for command in commands]
        offered = completion(script, path, queries)
        if len(offered) != len(queries):
            fail(f"{tool}: the completion did not answer")
            continue
        if commands and not set(commands) <= offered[0]:
            fail(f"{tool}: completion lacks commands {sorted(set(commands) - offered[0])}")
        for words, candidates in zip(queries[1:], offered[1:]):
            wanted = {pair[1] for pair in taken[words[1] if len(words) == 3 else ""]}
            if not wanted <= candidates:
                fail(f"completion of {' '.join(words)} lacks {sorted(wanted - candidates)}")
    if len(versions) != 1:
        fail(f"the tools tell different versions: {sorted(versions)}")
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print(f"help, manual page and completion agree for {len(tools)} tools")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
