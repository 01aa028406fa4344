"""The mutants the tool makes: for each kind, a small C++ text and the mutants it must give; the
places it must leave alone; the keys that tell mutants apart; the calls clang reads."""

import os
import tempfile
import textwrap
import unittest

from cpp_reading import clang_calls
from mutants import generate, line_text


def code(text):
    return textwrap.dedent(text).lstrip("\n")


def changes(text, kind, calls=()):
    """(line, change) of each mutant of one kind that text gives, in the tool's order."""
    mutants = generate("app/sample.cpp", text, list(calls))
    return [(m.line, m.change) for m in mutants if m.kind == kind]


def mutated_line(text, change):
    """The line of text as the mutant with that change leaves it."""
    [m] = [m for m in generate("app/sample.cpp", text, []) if m.change == change]
    return m.apply(text).split("\n")[m.line - 1].strip()


def call(text, name, *args):
    """A call as clang_calls answers it: name at its first place in text, args as (text, type)
    found in order after it."""
    start = text.index(name + "(")
    at = start
    found = []
    for arg, type_name in args:
        at = text.index(arg, at)
        found.append((at, at + len(arg), type_name))
        at += len(arg)
    return {"name": name, "start": start, "args": found}


class MutantKinds(unittest.TestCase):
    def test_relational_operator_moves_to_its_neighbour(self):
        text = code(
            """
            bool compare(int a, int b) {
                return a < b || a <= b || a > b || a >= b || a == b || a != b;
                return static_cast<int>(a) > b && a<b;
            }
            """
        )
        self.assertEqual(
            changes(text, "relational"),
            [
                (2, "< to <="),
                (2, "<= to <"),
                (2, "> to >="),
                (2, ">= to >"),
                (2, "== to !="),
                (2, "!= to =="),
                (3, "> to >="),
            ],
        )
        self.assertEqual(
            mutated_line(text, ">= to >"),
            "return a < b || a <= b || a > b || a > b || a == b || a != b;",
        )

    def test_logical_operators_swap_where_spaced_as_binary(self):
        text = code(
            """
            bool either(bool a, bool b, bool&& c) {
                return a && b || c;
            }
            """
        )
        self.assertEqual(changes(text, "logical"), [(2, "&& to ||"), (2, "|| to &&")])
        self.assertEqual(mutated_line(text, "&& to ||"), "return a || b || c;")

    def test_negate_if_wraps_the_whole_condition(self):
        text = code(
            """
            void start(int a, int b, int c) {
                if (a && (b || c)) {
                    go();
                }
            }
            """
        )
        self.assertEqual(changes(text, "negate_if"), [(2, "negate if")])
        self.assertEqual(mutated_line(text, "negate if"), "if (!(a && (b || c))) {")

    def test_delete_call_removes_call_statements_only(self):
        text = code(
            """
            void tidy(Window* window, Handle handle) {
                close(handle);
                window->hide();
                settings.save(1);
                platform::flush();
                if (handle)
                    release(handle);
                else
                    retry(handle);
                while (busy())
                    wait();
                switch (handle.kind) {
                case 1:
                    notify(1);
                    break;
                default:
                    notify(2);
                }
                int size = measure(handle);
                visit(handle) + 1;
                return finish(handle);
            }
            """
        )
        self.assertEqual(
            changes(text, "delete_call"),
            [
                (2, "delete call close"),
                (3, "delete call window->hide"),
                (4, "delete call settings.save"),
                (5, "delete call platform::flush"),
                (7, "delete call release"),
                (9, "delete call retry"),
                (11, "delete call wait"),
                (14, "delete call notify"),
                (17, "delete call notify"),
            ],
        )
        self.assertEqual(mutated_line(text, "delete call window->hide"), "{}")

    def test_return_constant_flips_returned_constants(self):
        text = code(
            """
            int answer(int x) {
                if (x == 1)
                    return 0;
                if (x == 2)
                    return 1;
                if (x == 3)
                    return 5;
                if (x == 4)
                    return true;
                if (x == 5)
                    return false;
                if (x == 6)
                    return kNotFound;
                if (x == 7)
                    return -1;
                if (x == 8)
                    return x;
                if (x == 9)
                    return kNotFound + 1;
                return 0x10;
            }
            """
        )
        self.assertEqual(
            changes(text, "return_constant"),
            [
                (3, "return 0 to 1"),
                (5, "return 1 to 0"),
                (7, "return 5 to 0"),
                (9, "return true to false"),
                (11, "return false to true"),
                (13, "return kNotFound to 0"),
                (15, "return -1 to 0"),
                (20, "return 0x10 to 0"),
            ],
        )
        self.assertEqual(mutated_line(text, "return -1 to 0"), "return 0;")

    def test_size_constant_moves_by_one_either_way(self):
        text = code(
            """
            const int kNameRoom = 12;
            const unsigned long kBufferBytes = 0x10;
            enum { kHubDepth = 5, kOther = 3 };
            const int kLimit = 7;
            const int kPathLength = 2 * 130;
            """
        )
        self.assertEqual(
            changes(text, "size_constant"),
            [
                (1, "kNameRoom 12 to 11"),
                (1, "kNameRoom 12 to 13"),
                (2, "kBufferBytes 0x10 to 15"),
                (2, "kBufferBytes 0x10 to 17"),
                (3, "kHubDepth 5 to 4"),
                (3, "kHubDepth 5 to 6"),
            ],
        )

    def test_off_by_one_moves_loop_starts_bounds_and_added_constants(self):
        text = code(
            """
            void walk(int count, int n, int left, int limit) {
                for (int i = 0; i < count; ++i)
                    visit(i);
                for (int j = 2; j <= n + 1; j++)
                    visit(j);
                while (left > 0 && limit >= left)
                    left = left - 1;
                int sum = count + 4;
                int negative = -1;
                int scaled = count + 2 * n;
                visit(count, -1);
                visit(count+1);
            }
            """
        )
        self.assertEqual(
            changes(text, "off_by_one"),
            [
                (2, "loop start 0 to 1"),
                (2, "bound < count to count - 1"),
                (4, "loop start 2 to 3"),
                (4, "loop start 2 to 1"),
                (4, "bound <= n + 1 to (n + 1) + 1"),
                (4, "+ 1 to + 2"),
                (4, "+ 1 to + 0"),
                (6, "bound > 0 to 0 + 1"),
                (6, "bound >= left to left - 1"),
                (7, "- 1 to - 2"),
                (7, "- 1 to - 0"),
                (8, "+ 4 to + 5"),
                (8, "+ 4 to + 3"),
            ],
        )
        self.assertEqual(
            mutated_line(text, "bound <= n + 1 to (n + 1) + 1"),
            "for (int j = 2; j <= (n + 1) + 1; j++)",
        )

    def test_swap_arguments_swaps_neighbours_of_one_type(self):
        text = code(
            """
            void copy_all(char* dest, char* source, int size) {
                copy(dest, source, size, size);
                label(dest, "name", size, 4);
                static_assert(same(kA, kB), "the same");
            }
            """
        )
        p, n = "char *", "int"
        calls = [
            call(text, "copy", ("dest", p), ("source", p), ("size", n), ("size", n)),
            call(text, "label", ("dest", p), ('"name"', p), ("size", n), ("4", n)),
            call(text, "same", ("kA", n), ("kB", n)),
        ]
        self.assertEqual(
            changes(text, "swap_arguments", calls),
            [(2, "swap dest and source in copy"), (3, "swap size and 4 in label")],
        )
        [m] = [m for m in generate("app/sample.cpp", text, calls) if "dest and" in m.change]
        self.assertEqual(m.apply(text).split("\n")[1].strip(), "copy(source, dest, size, size);")


class PlacesLeftAlone(unittest.TestCase):
    def test_comments_literals_static_asserts_templates_and_preprocessor_lines_give_none(self):
        text = code(
            """
            // if (a < b) close(handle);
            /* return 0; a && b
               kNameRoom = 12; */
            #define LIMIT(a) ((a) < 3 && \\
                              close(a))
            const char* kText = "a < b && c || d; if (x) f();";
            const char kLess = '<';
            const wchar_t* kWide = L"x > 1 && y";
            static_assert(sizeof(long) == 8 && kRoom + 1 > 2, "a long has 8 bytes");
            std::vector<std::pair<int, int> > pairs;
            """
        )
        self.assertEqual([(m.line, m.change) for m in generate("app/sample.cpp", text, [])], [])


class MutantKeys(unittest.TestCase):
    def test_equal_changes_are_told_apart_along_the_line_then_by_the_line_before(self):
        text = code(
            """
            int pick(int a, int b) {
                if (a < b && b < 9)
                    return 0;
                if (a == 1)
                    return 0;
                if (a == 1)
                    return 0;
                return 1;
            }
            """
        )
        self.assertEqual(
            changes(text, "relational")[:2], [(2, "< to <= (1 of 2)"), (2, "< to <= (2 of 2)")]
        )
        self.assertEqual(
            changes(text, "return_constant"),
            [
                (3, 'return 0 to 1 after "if (a < b && b < 9)"'),
                (5, 'return 0 to 1 after "if (a == 1)"'),
                (7, 'return 0 to 1 after "if (a == 1)" #2'),
                (8, "return 1 to 0"),
            ],
        )

    def test_line_text_squeezes_blanks_and_drops_a_trailing_comment(self):
        self.assertEqual(line_text("    x  =  f(a,\tb);   // why"), "x = f(a, b);")
        self.assertEqual(line_text('    s = "http://host";'), 's = "http://host";')


class ClangCalls(unittest.TestCase):
    def test_calls_and_their_argument_types_come_from_clang(self):
        text = code(
            """
            #define DEFAULT_SIZE 8
            int pick(int first, int second);
            bool text_equal(const char* a, const char* b);
            const char* name(const char* text, int size);
            int use(int a, int b, const char* t, const char* u) {
                name(t, a);
                text_equal(t, u);
                return pick(a, b) + pick(b, b) + pick(DEFAULT_SIZE, b);
            }
            """
        )
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "sample.cpp")
            with open(path, "w") as f:
                f.write(text)
            calls = clang_calls(path, folder)
        self.assertTrue(calls, "clang++ (from scripts/install-packages) read no calls")
        self.assertEqual(
            changes(text, "swap_arguments", calls),
            [(8, "swap a and b in pick"), (8, "swap DEFAULT_SIZE and b in pick")],
        )


if __name__ == "__main__":
    unittest.main()
