#!/usr/bin/env python3
"""Writes the bash completion of varnel-cli from the program's own help.

    completion.py EXECUTABLE TEMPLATE OUTPUT

The commands (at every level), their options, which options take a value and what their
positionals are come from `varnel-cli --help` and each command's --help, and fill the
tables of TEMPLATE (packaging/varnel-cli.bash.in), whose functions complete from them.
What a value is completed with follows from the option: --tab takes the template's tab
names, --adapter the network adapters, an option or positional that is a file takes
files; other values (numbers, names of variables) are left to the user.
"""

import os
import re
import shlex
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import helptext  # noqa: E402


def is_file(term, text):
    return "FILE" in term or re.search(r"\bfile\b", text, re.IGNORECASE) is not None


def value_kind(option):
    if "--tab" in option.names:
        return "tab"
    if "--adapter" in option.names:
        return "adapter"
    if is_file(option.value, option.text):
        return "file"
    return ""


def positional_kind(positional):
    kind = "file" if is_file(positional.name, positional.text) else "other"
    return kind + ("..." if "..." in positional.value else "")


def commands(command, prefix=()):
    yield prefix, command
    for sub in command.subcommands:
        yield from commands(sub, (*prefix, sub.path[-1]))


def table(name, entries):
    lines = [f"declare -gA {name}=("]
    for key, value in entries:
        lines.append(f"    [{shlex.quote(key)}]={shlex.quote(value)}")
    return "\n".join(lines + [")"])


def make_script(executable, template):
    root = helptext.read_command(executable, ["varnel-cli"])
    subcommands, options, valued, kinds, positionals = [], [], [], [], []
    for prefix, command in commands(root):
        key = command.name  # "varnel-cli read": bash takes no empty key
        subcommands.append((key, " ".join(s.path[-1] for s in command.subcommands)))
        options.append((key, " ".join(n for o in command.options for n in o.names)))
        valued.append((key, " ".join(n for o in command.options if o.takes_value
                                     and not o.value_optional for n in o.names)))
        for o in command.options:
            if value_kind(o):
                for n in o.names:
                    kinds.append((f"{key} {n}", value_kind(o)))
        positionals.append((key, " ".join(positional_kind(p) for p in command.positionals)))
    data = "\n".join([
        table("_varnel_cli_commands", subcommands),
        table("_varnel_cli_options", options),
        table("_varnel_cli_valued", valued),
        table("_varnel_cli_kind", kinds),
        table("_varnel_cli_positionals", positionals),
    ])
    with open(template, encoding="utf-8") as f:
        return f.read().replace("@DATA@", data)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    executable, template, output = argv[1:]
    script = make_script(executable, template)
    with open(output + ".tmp", "w", encoding="utf-8") as f:
        f.write(script)
    os.replace(output + ".tmp", output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
