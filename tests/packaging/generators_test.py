"""The manual page and completion generators against a program that has grown: a new
command with a new option whose text goes on below it, and a command with commands of its
own. What the later varnel-cli adds (watch, tabs add/remove, --parallel) must reach the
page and the completion without an edit.

    python3 generators_test.py PACKAGING_DIR
"""

import os
import stat
import subprocess
import sys
import tempfile
import textwrap
import unittest

PACKAGING = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None

NET = """\
  --adapter TEXT              Network adapter ID (for example lo)
  --port INT:INT in 1 to 65535=8442
                              UDP port of the controllers
  --json                      Print one JSON document
"""

HELP = {
    "": """\
grown-cli: a program that has grown
Usage: grown-cli [OPTIONS] SUBCOMMAND

Options:
  -h,--help                   Print this help message and exit
  --version                   Display program version information and exit

Subcommands:
  scan                        Find the controllers on the network
  status                      Check each controller
  tabs                        List the variables tabs of the template, or change them
  watch                       Read variables over and over
""",
    "scan": """\
Find the controllers on the network
Usage: grown-cli scan [OPTIONS]

Options:
  -h,--help                   Print this help message and exit
""" + NET,
    "status": """\
Check each controller
Usage: grown-cli status [OPTIONS]

Options:
  -h,--help                   Print this help message and exit
""" + NET,
    "tabs": """\
List the variables tabs of the template, or change them
Usage: grown-cli tabs [OPTIONS] [SUBCOMMAND]

Options:
  -h,--help                   Print this help message and exit
  --template TEXT             The template file of the tabs
  --json                      Print one JSON document

Subcommands:
  add                         Add a tab
  remove                      Remove a tab
""",
    "tabs add": """\
Add a tab
Usage: grown-cli tabs add [OPTIONS] NAME VAR...

Positionals:
  NAME TEXT REQUIRED          The tab's name
  VAR TEXT ... REQUIRED       Its variables

Options:
  -h,--help                   Print this help message and exit
  --description TEXT          The tab's hint
""",
    "tabs remove": """\
Remove a tab
Usage: grown-cli tabs remove [OPTIONS] NAME

Positionals:
  NAME TEXT REQUIRED          The tab's name

Options:
  -h,--help                   Print this help message and exit
""",
    "watch": """\
Read variables over and over
Usage: grown-cli watch [OPTIONS] [NAME...]

Positionals:
  NAME TEXT ...               Variable name

Options:
  -h,--help                   Print this help message and exit
  --parallel INT:INT in 1 to 64=8
                              Controllers read at once
  --tab TEXT                  The variables of this tab
  --output TEXT:FILE          Append the readings to this file
""" + NET,
}

FAKE = """\
#!/usr/bin/env python3
import json, sys
HELP = {help!r}
args = sys.argv[1:]
if args == ["--version"]:
    print("grown-cli 9.9.9")
elif args and args[-1] == "--help":
    print(HELP[" ".join(args[:-1])], end="")
elif args[:1] == ["tabs"] and "--json" in args:
    print(json.dumps({{"tabs": [{{"name": "Boiler room", "description": "name", "vars": ["name"]}},
                               {{"name": "Pumps", "description": "", "vars": []}}]}},
                     separators=(",", ":")))
else:
    sys.exit(2)
"""


class Generators(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.program = os.path.join(cls.dir.name, "grown-cli")
        with open(cls.program, "w", encoding="utf-8") as f:
            f.write(FAKE.format(help=HELP))
        os.chmod(cls.program, stat.S_IRWXU)
        env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
        sections = os.path.join(cls.dir.name, "grown-cli.sections")
        with open(sections, "w", encoding="utf-8") as f:
            f.write("[DESCRIPTION]\nGrown.\n[EXIT STATUS]\n0 or not.\n[FILES]\nNone.\n"
                    "[EXAMPLES]\ngrown\\-cli scan\n[SEE ALSO]\nnothing\n")
        cls.page_file = os.path.join(cls.dir.name, "grown-cli.1")
        subprocess.run([sys.executable, os.path.join(PACKAGING, "manpage.py"), "grown-cli",
                        cls.program, sections, cls.page_file], check=True, env=env)
        with open(cls.page_file, encoding="utf-8") as f:
            cls.page = f.read()
        cls.completion = os.path.join(cls.dir.name, "grown-cli.bash")
        subprocess.run([sys.executable, os.path.join(PACKAGING, "completion.py"), cls.program,
                        os.path.join(PACKAGING, "varnel-cli.bash.in"), cls.completion],
                       check=True, env=env)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def part(self, command):
        start = self.page.index(f'.SS "{command}"\n')
        end = self.page.find("\n.S", start + 1)
        return self.page[start:end]

    def complete(self, *words):
        """What completion offers for the last word, after the others."""
        script = textwrap.dedent("""\
            source "$1"; shift
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
            _varnel_cli "$1"
            printf '%s\\n' "${COMPREPLY[@]}"
            """)
        done = subprocess.run(["bash", "-c", script, "_", self.completion, self.program, *words],
                              capture_output=True, text=True, check=True)
        return sorted(line for line in done.stdout.splitlines() if line)

    def test_every_command_at_every_depth_has_its_part_and_usage(self):
        for command in ["scan", "status", "tabs", "tabs add", "tabs remove", "watch"]:
            self.assertIn(f'.SS "{command}"', self.page)
            self.assertIn("\\fBgrown\\-cli " + command + "\\fR", self.page)
        self.assertIn("\\fB\\%\\-\\-description\\fR", self.part("tabs add"))

    def test_a_new_option_is_in_its_commands_part_with_the_text_below_it(self):
        watch = self.part("watch")
        self.assertIn("\\fB\\%\\-\\-parallel\\fR \\fIINT:INT in 1 to 64=8\\fR\n"
                      "Controllers read at once", watch)
        self.assertIn("\\fB\\%\\-\\-output\\fR", watch)

    def test_options_most_commands_share_are_described_once(self):
        common = self.page[self.page.index('.SH "COMMON OPTIONS"'):]
        self.assertIn("\\fB\\%\\-\\-adapter\\fR", common)
        self.assertNotIn("\\fB\\%\\-\\-adapter\\fR \\fITEXT", self.part("watch"))
        self.assertIn("Common options:", self.part("watch"))
        self.assertEqual(self.page.count("Network adapter ID"), 1)

    def test_completion_follows_new_commands_options_and_levels(self):
        self.assertEqual(self.complete(""), ["scan", "status", "tabs", "watch"])
        self.assertEqual(self.complete("tabs", ""), ["add", "remove"])
        self.assertIn("--description", self.complete("tabs", "add", "--"))
        self.assertEqual(self.complete("watch", "--p"), ["--parallel", "--port"])
        self.assertEqual(self.complete("watch", "--parallel", ""), [])
        self.assertEqual(self.complete("watch", "--parallel", "4", "--t"), ["--tab"])
        self.assertEqual(self.complete("watch", "--tab", ""), ["Boiler\\ room", "Pumps"])


if __name__ == "__main__":
    unittest.main()
