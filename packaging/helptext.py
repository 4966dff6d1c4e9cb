"""The programs' own --help, read into commands, options and subcommands.

The manual pages and the shell completion are made from what the programs print, so that
a new command or option reaches both without anyone editing them. Two layouts are read:
varnel-cli's and varnel-sim's (a description, "Usage:", then titled sections), and the
window's (Qt's: "Usage:" first, then the description and an "Options:" section). In both,
an entry is indented by two spaces, its text follows after two or more spaces or on the
lines below, indented further.
"""

import os
import re
import subprocess
from dataclasses import dataclass, field

SECTION = re.compile(r"^(\S[^:]*):\s*$")
ENTRY = re.compile(r"^  (\S.*?)(?:\s{2,}(\S.*))?$")


@dataclass
class Option:
    names: list  # "-h", "--help"
    value: str  # what follows the names ("INT:INT in 1 to 65535=8442", "<P>"); "" for a flag
    text: str

    @property
    def takes_value(self):
        return self.value != ""

    @property
    def value_optional(self):
        return self.value.startswith("[")


@dataclass
class Positional:
    name: str  # "FILE", "NAME=VALUE"
    value: str  # the rest: "TEXT ... REQUIRED"
    text: str


@dataclass
class Command:
    path: list  # ["varnel-cli", "tabs", "add"]
    summary: str = ""
    usage: str = ""
    description: list = field(default_factory=list)
    options: list = field(default_factory=list)
    positionals: list = field(default_factory=list)
    subcommands: list = field(default_factory=list)  # Command, each read from its own help

    @property
    def name(self):
        return " ".join(self.path)


def run_help(executable, args):
    env = dict(os.environ)
    # The window answers --help without a display; should it ever need one, it gets none.
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    done = subprocess.run([executable, *args, "--help"], capture_output=True, text=True,
                          env=env, check=False)
    if done.returncode != 0:
        raise RuntimeError(f"{executable} {' '.join(args)} --help exited with "
                           f"{done.returncode}: {done.stderr.strip()}")
    return done.stdout


def split_option(term):
    """'-h,--help' or '-h, --help' or '--port INT:INT in 1 to 65535=8442' or '--port <P>'."""
    names = []
    rest = term
    while True:
        m = re.match(r"(-[^\s,]+)(?:,\s*)?", rest)
        if not m:
            break
        names.append(m.group(1))
        rest = rest[m.end():]
        if not rest.startswith("-"):
            break
    return names, rest.strip()


def parse(text, path):
    """One help text into a Command (subcommands named, not yet read)."""
    command = Command(path=list(path))
    lines = text.splitlines()
    section = None
    entries = []  # (section, term, text)
    seen_usage = False
    for line in lines:
        if line.startswith("Usage:"):
            # The program as the user names it, not the path it was run from.
            words = line[len("Usage:"):].split()
            if words:
                words[0] = os.path.basename(words[0])
            command.usage = " ".join(words)
            seen_usage = True
            section = None
            continue
        if not line.strip():
            if section is None and seen_usage and command.description:
                section = ""  # the description after Qt's usage line ends here
            continue
        m = SECTION.match(line)
        if m and not line.startswith(" "):
            section = m.group(1)
            continue
        if section is None or (section == "" and not line.startswith(" ")):
            command.description.append(line.strip())
            continue
        entry = ENTRY.match(line)
        if entry and (len(line) - len(line.lstrip(" "))) == 2:
            entries.append([section, entry.group(1).strip(), entry.group(2) or ""])
        elif entries and line.startswith("   "):
            previous = entries[-1]
            previous[2] = (previous[2] + " " + line.strip()).strip()
    for section, term, text in entries:
        if section.startswith("Subcommand"):
            command.subcommands.append(Command(path=[*path, term.split()[0]], summary=text))
        elif section.startswith("Positional"):
            name, _, value = term.partition(" ")
            command.positionals.append(Positional(name, value.strip(), text))
        elif term.startswith("-"):
            names, value = split_option(term)
            command.options.append(Option(names, value, text))
    if command.description and not command.summary:
        command.summary = command.description[0]
    return command


def read_command(executable, path, args=()):
    """The program's help and that of each subcommand, down to the last level."""
    command = parse(run_help(executable, list(args)), path)
    subcommands = []
    for sub in command.subcommands:
        name = sub.path[-1]
        full = read_command(executable, [*path, name], [*args, name])
        full.summary = sub.summary or full.summary
        subcommands.append(full)
    command.subcommands = subcommands
    return command
