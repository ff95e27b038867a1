"""Cases as data: each file in cases/ is a scenario and the lines it must
produce. Copy one to add a case.

The file is handed to the virtual camera as it is (it skips the comments);
these comment lines say how to run it and what to expect:

  # key-after: N [Depth] [Color]   wait for N frame lines (of each kind named),
                                   then press a key
  # frame: <line>                  the distinct frame lines printed; their
                                   timestamps count only if the case writes them
  # teardown: [depth] [color]      exit 0, nothing on stderr, and the full
                                   teardown with these streams created
"""

import os
import re
import unittest

from camwatch_run import CamwatchAssertions, run_until_key

CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases")
DIRECTIVE = re.compile(r"^# (key-after|frame|teardown):(.*)$")
TIMESTAMP = re.compile(rb"^\[\d+\] ")


def directives(text):
    found = {}
    for line in text.splitlines():
        match = DIRECTIVE.match(line)
        if match:
            found.setdefault(match.group(1), []).append(match.group(2).strip())
    return found


class ScenarioCasesTest(CamwatchAssertions):
    def run_case(self, path):
        with open(path) as f:
            scenario = f.read()
        want = directives(scenario)
        self.assertIn("key-after", want, "a case says when to press the key")
        count, *kinds = want["key-after"][0].split()
        result = run_until_key(scenario, frames=int(count),
                               kinds=tuple(k.encode() for k in kinds) or None)
        expected = {line.encode() + b"\n" for line in want.get("frame", [])}
        stamped = any(line.startswith(b"[") for line in expected)
        printed = {m.group(0) if stamped else TIMESTAMP.sub(b"", m.group(0))
                   for m in result.frame_lines()}
        self.assertEqual(printed, expected)
        if "teardown" in want:
            streams = want["teardown"][0].split()
            self.assertFullTeardown(result, depth="depth" in streams, color="color" in streams)

    def test_every_case(self):
        names = sorted(n for n in os.listdir(CASES) if n.endswith(".vcam"))
        self.assertTrue(names)
        for name in names:
            with self.subTest(case=name):
                self.run_case(os.path.join(CASES, name))


if __name__ == "__main__":
    unittest.main()
