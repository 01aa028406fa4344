"""The mutation tool's own tests (unittest, nothing beyond Python's standard library): run from
tools/mutation as `python3 -B -m unittest tests.test_mutants`, or all of them through CTest's
label tool."""
