#!/usr/bin/env python3
"""Writes a program's manual page from its own --help and a file of written sections.

    manpage.py PROGRAM EXECUTABLE SECTIONS OUTPUT

NAME, SYNOPSIS, OPTIONS and, for a program with subcommands, COMMANDS and COMMON OPTIONS
come from the help of the program and of every subcommand, so a new command or option is
in the page as soon as it is in the program. SECTIONS holds what help cannot say
(description, exit status, environment, files, examples, see also) as roff, each section
under a line "[NAME]". The page's date is SOURCE_DATE_EPOCH's when set, for a build that
gives the same page every time.
"""

import datetime
import os
import re
import subprocess
import sys
from collections import Counter

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helptext  # noqa: E402

# Sections of the page in the order a reader expects them; written sections the list does
# not name go before SEE ALSO.
ORDER = ["DESCRIPTION", "OPTIONS", "COMMANDS", "COMMON OPTIONS", "EXIT STATUS", "ENVIRONMENT",
         "FILES", "EXAMPLES"]


def roff(text):
    """Plain text for a roff line: backslashes and the hyphens of options kept as typed."""
    text = text.replace("\\", "\\e")
    # A minus that starts an option stays a minus (\-), so that what is copied runs, and
    # the option is not broken over two lines (\%).
    text = re.sub(r"(?<![\w-])--?[\w\[][\w\-]*",
                  lambda m: "\\%" + m.group(0).replace("-", "\\-"), text)
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def bold(text):
    return "\\fB" + roff(text) + "\\fR"


def italic(text):
    return "\\fI" + roff(text) + "\\fR"


def quoted(text):
    return '"' + text.replace('"', '\\(dq') + '"'


def read_sections(path):
    sections, name = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^\[([A-Z ]+)\]\s*$", line)
            if m:
                name = m.group(1)
                sections[name] = []
            elif name is not None:
                sections[name].append(line.rstrip("\n"))
    return {k: "\n".join(v).strip("\n") for k, v in sections.items()}


def all_commands(command):
    for sub in command.subcommands:
        yield sub
        yield from all_commands(sub)


def signature(option):
    return (tuple(option.names), option.value, option.text)


def common_options(command):
    """Options that at least half the commands (three or more) share word for word."""
    commands = list(all_commands(command))
    if len(commands) < 3:
        return []
    counts = Counter(signature(o) for c in commands for o in c.options)
    least = max(3, (len(commands) + 1) // 2)
    seen, common = set(), []
    # In the order of the command that has most of them.
    for c in sorted(commands, key=lambda c: -len(c.options)):
        for o in c.options:
            if counts[signature(o)] >= least and signature(o) not in seen:
                seen.add(signature(o))
                common.append(o)
    return common


def option_entry(option):
    term = ", ".join(bold(n) for n in option.names)
    if option.value:
        term += " " + italic(option.value)
    return [".TP", term, roff(option.text)]


def positional_entry(positional):
    term = italic(positional.name)
    if positional.value:
        term += " (" + roff(positional.value) + ")"
    return [".TP", term, roff(positional.text)]


def roff_name(text):
    """A program or command name, its hyphens minus signs as typed."""
    return roff(text).replace("-", "\\-")


def usage_line(usage, words):
    """The usage with the program and command words in bold."""
    rest = usage.split()[words:]
    return " ".join(["\\fB" + roff_name(" ".join(usage.split()[:words])) + "\\fR",
                     *[roff(w) for w in rest]])


def command_section(command, common):
    out = [".SS " + quoted(roff_name(" ".join(command.path[1:]))),
           usage_line(command.usage, len(command.path)), ".PP", roff(command.summary)]
    for p in command.positionals:
        out += positional_entry(p)
    shared = [o for o in command.options if signature(o) in common]
    for o in command.options:
        if signature(o) not in common:
            out += option_entry(o)
    if shared:
        out += [".PP", "Common options: " + ", ".join(bold(o.names[-1]) for o in shared) + "."]
    return out


def version_of(executable):
    env = dict(os.environ)
    env.setdefault("QT_QPA_PLATFORM", "offscreen")
    done = subprocess.run([executable, "--version"], capture_output=True, text=True, env=env,
                          check=True)
    return done.stdout.split()[-1]


def page_date():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    when = (datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc) if epoch
            else datetime.datetime.now(datetime.timezone.utc))
    return when.strftime("%Y-%m-%d")


def summary_of(program, command):
    summary = command.summary
    if summary.startswith(program + ":"):
        summary = summary[len(program) + 1:].strip()
    return summary.rstrip(".")


def make_page(program, executable, written):
    command = helptext.read_command(executable, [program])
    common = {signature(o) for o in common_options(command)}
    version = version_of(executable)

    out = [f'.TH {roff_name(program.upper())} 1 {quoted(page_date())} '
           f'{quoted(program + " " + version)} "User Commands"',
           ".SH NAME", f"{roff_name(program)} \\- {roff(summary_of(program, command))}",
           ".SH SYNOPSIS", usage_line(command.usage, 1)]
    for sub in all_commands(command):
        out += [".br", usage_line(sub.usage, len(sub.path))]

    body = {}
    description = [roff(line) for line in command.description[1:]]
    if "DESCRIPTION" in written:
        description += ([".PP"] if description else []) + [written.pop("DESCRIPTION")]
    if description:
        body["DESCRIPTION"] = description
    options = [line for p in command.positionals for line in positional_entry(p)]
    options += [line for o in command.options for line in option_entry(o)]
    if options:
        body["OPTIONS"] = options
    if command.subcommands:
        body["COMMANDS"] = [line for sub in all_commands(command)
                            for line in command_section(sub, common)]
    if common:
        shared = [".PP", "These options mean the same on every command that takes them."]
        for o in common_options(command):
            shared += option_entry(o)
        body["COMMON OPTIONS"] = shared
    see_also = written.pop("SEE ALSO", None)
    for name in ORDER + [n for n in written if n not in ORDER]:
        if name in body:
            out += [".SH " + quoted(name) if " " in name else ".SH " + name, *body[name]]
        elif name in written:
            out += [".SH " + quoted(name) if " " in name else ".SH " + name, written[name]]
    if see_also:
        out += [".SH \"SEE ALSO\"", see_also]
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    program, executable, sections, output = argv[1:]
    page = make_page(program, executable, read_sections(sections))
    with open(output + ".tmp", "w", encoding="utf-8") as f:
        f.write(page)
    os.replace(output + ".tmp", output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
