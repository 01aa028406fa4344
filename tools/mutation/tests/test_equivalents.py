"""The equivalents list: which mutants an entry matches, which entries are stale, and the file's
format."""

import os
import tempfile
import textwrap
import unittest

from equivalents import EQUIVALENTS, BadEntry, mark_equivalents, read_equivalents, stale_entries
from mutants import generate

SOURCE = textwrap.dedent(
    """\
    void poll(int a, int b) {
        if (a < b)   // the last port
            refresh(a);
    }
    """
)


def read(text):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "mutation-equivalents.txt")
        with open(path, "w") as f:
            f.write(text)
        return read_equivalents(path)


def marked(source, entries):
    """{change: status} of the mutants of source once the entries are applied, and the stale
    entries."""
    mutants = generate("usb/poll.cpp", source, [])
    mark_equivalents(mutants, entries)
    return {m.change: m.status for m in mutants}, stale_entries(entries, mutants)


class Matching(unittest.TestCase):
    def test_an_entry_matches_its_change_alone_and_goes_stale_when_its_line_changes(self):
        entries = read(
            "# a comment\n"
            "\n"
            "usb/poll.cpp `if  (a < b)` `< to <=` The last port is never compared.\n"
        )
        self.assertEqual(
            entries,
            {("usb/poll.cpp", "if (a < b)", "< to <="): "The last port is never compared."},
        )

        statuses, stale = marked(SOURCE, entries)
        self.assertEqual(statuses["< to <="], "equivalent")
        # Another change on the same line is not matched.
        self.assertEqual(statuses["negate if"], "pending")
        self.assertEqual(statuses["delete call refresh"], "pending")
        self.assertEqual(stale, [])

        # The entry survives edits of other lines.
        statuses, stale = marked("int added_line;\n\n" + SOURCE, entries)
        self.assertEqual(statuses["< to <="], "equivalent")
        self.assertEqual(stale, [])

        # Once the line itself changes, the entry matches nothing and is named stale.
        statuses, stale = marked(SOURCE.replace("a < b", "a <= b"), entries)
        self.assertNotIn("equivalent", statuses.values())
        self.assertEqual(stale, [("usb/poll.cpp", "if (a < b)", "< to <=")])

    def test_a_mutant_with_a_result_is_not_marked(self):
        mutants = generate("usb/poll.cpp", SOURCE, [])
        for m in mutants:
            m.status = "killed"
        mark_equivalents(mutants, {("usb/poll.cpp", "if (a < b)", "< to <="): "reason"})
        self.assertEqual({m.status for m in mutants}, {"killed"})


class FileFormat(unittest.TestCase):
    def test_a_line_that_is_no_entry_is_refused_with_its_place(self):
        with self.assertRaisesRegex(BadEntry, r"mutation-equivalents.txt:2: not `file` `line`"):
            read("# fine\nusb/poll.cpp `if (a < b)` `< to <=`\n")

    def test_the_tool_reads_the_list_beside_it(self):
        self.assertTrue(os.path.exists(EQUIVALENTS))
        self.assertTrue(read_equivalents())


if __name__ == "__main__":
    unittest.main()
