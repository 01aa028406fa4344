"""The report's arithmetic: the score counts killed of killed and survived only, per file, per
folder, per kind and in all."""

import io
import unittest

from mutants import Mutant
from report import report, score


def mutant(path, kind, status, detail="", line=1):
    m = Mutant(path, kind, [(0, 0, "")], line, "change %d" % line)
    m.snippet = "line %d" % line
    m.status, m.detail = status, detail
    return m


def row(text, name):
    """The numbers of the report's first row named name."""
    for line in text.split("\n"):
        if line.split()[:1] == [name]:
            return line.split()[1:]
    raise AssertionError("no row %s in\n%s" % (name, text))


class Score(unittest.TestCase):
    def test_score_is_killed_of_killed_and_survived(self):
        self.assertEqual(score(3, 1), " 75.0%")
        self.assertEqual(score(2, 1), " 66.7%")
        self.assertEqual(score(5, 0), "100.0%")
        self.assertEqual(score(0, 0), "    -")

    def test_rows_count_each_status_and_leave_the_uncompiled_and_equivalent_out_of_the_score(self):
        mutants = [
            mutant("usb/scan.cpp", "relational", "killed", "t.A (sanitizer: undefined behaviour)"),
            mutant("usb/scan.cpp", "relational", "killed", "t.A (time limit)", line=2),
            mutant("usb/scan.cpp", "logical", "survived", "", line=3),
            mutant("usb/scan.cpp", "logical", "not compiled", "", line=4),
            mutant("usb/queries.cpp", "relational", "equivalent", "reason", line=5),
            mutant("usb/queries.cpp", "delete_call", "killed", "t.B (assertion)", line=6),
            mutant("app/window.cpp", "delete_call", "survived", "", line=7),
            mutant("app/window.cpp", "delete_call", "pending", "", line=8),
        ]
        text = report(mutants, [("app/window.cpp", "gone", "change")], 0.0, 0.0, io.StringIO())
        #        mutants no-comp killed surviv equiv score
        self.assertEqual(row(text, "usb/scan.cpp"), ["4", "1", "2", "1", "0", "66.7%"])
        self.assertEqual(row(text, "usb/queries.cpp"), ["2", "0", "1", "0", "1", "100.0%"])
        self.assertEqual(row(text, "app/window.cpp"), ["2", "0", "0", "1", "0", "0.0%"])
        self.assertEqual(row(text, "usb"), ["6", "1", "3", "1", "1", "75.0%"])
        self.assertEqual(row(text, "All"), ["8", "1", "3", "2", "1", "60.0%"])
        self.assertEqual(row(text, "relational"), ["3", "0", "2", "0", "1", "100.0%"])
        self.assertEqual(row(text, "logical"), ["2", "1", "0", "1", "0", "0.0%"])
        self.assertEqual(row(text, "delete_call"), ["3", "0", "1", "1", "0", "50.0%"])
        self.assertIn("Not run (stopped): 1\n", text)
        self.assertIn("Killed by a sanitizer: 1; by the time limit: 1\n", text)
        self.assertIn(
            "Survivors (2):\n"
            "app/window.cpp:7: change 7 [delete_call]: line 7\n"
            "    equivalent? app/window.cpp `line 7` `change 7` <reason>\n"
            "usb/scan.cpp:3: change 3 [logical]: line 3\n",
            text,
        )
        self.assertIn(
            "Listed as equivalent but no longer generated (1):\n"
            "    app/window.cpp `gone` `change`\n",
            text,
        )


if __name__ == "__main__":
    unittest.main()
