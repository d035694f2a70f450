#!/usr/bin/env python3
"""Checks of bench/run-x11-benchmarks that need no X server: how it rewrites
its section of a results file, and the pattern it expects Pillow to see.

    python3 bench/x11/run_x11_benchmarks_test.py
"""
import importlib.machinery
import importlib.util
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
RUNNER_PATH = os.path.join(os.path.dirname(HERE), "run-x11-benchmarks")


def load_runner():
    """The runner script as a module (its file name has no .py); no bytecode left behind."""
    sys.dont_write_bytecode = True
    loader = importlib.machinery.SourceFileLoader("run_x11_benchmarks", RUNNER_PATH)
    module_info = importlib.util.spec_from_loader(loader.name, loader)
    module = importlib.util.module_from_spec(module_info)
    loader.exec_module(module)
    return module


runner = load_runner()
H = runner.RESULTS_HEADING


class WriteSectionTest(unittest.TestCase):
    def rewrite(self, before):
        """The file's text after write_section puts 'NEW' into it."""
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "RESULTS.md")
            if before is not None:
                with open(path, "w") as f:
                    f.write(before)
            runner.write_section(path, f"{H}\n\nNEW\n")
            with open(path) as f:
                return f.read()

    def test_cases(self):
        cases = [
            ("no file", None, f"{H}\n\nNEW\n"),
            ("appended after other results", "# Results\n\nold table\n",
             f"# Results\n\nold table\n\n{H}\n\nNEW\n"),
            ("replaces itself at the end", f"# Results\n\n{H}\n\nOLD\n",
             f"# Results\n\n{H}\n\nNEW\n"),
            ("keeps the section after it", f"# Results\n\n{H}\n\nOLD\n\n## Later\n\nkept\n",
             f"# Results\n\n{H}\n\nNEW\n\n## Later\n\nkept\n"),
            ("keeps the sections before it", f"# R\n\n## Earlier\n\nkept\n\n{H}\n\nOLD\n",
             f"# R\n\n## Earlier\n\nkept\n\n{H}\n\nNEW\n"),
        ]
        for name, before, after in cases:
            with self.subTest(name):
                self.assertEqual(self.rewrite(before), after)


class PatternTest(unittest.TestCase):
    def test_matches_the_painter(self):
        # test_pattern.cc: B = x mod 256, G = y mod 256,
        # R = (x div 256) mod 16 + 16 * ((y div 256) mod 16).
        cases = [((0, 0), [0, 0, 0]), ((640, 300), [2 + 16 * 1, 44, 128]),
                 ((1919, 1079), [7 + 16 * 4, 1079 % 256, 1919 % 256]),
                 ((4096 + 5, 0), [0, 0, 5])]  # the x term wraps at 16
        for (x, y), rgb in cases:
            with self.subTest(x=x, y=y):
                self.assertEqual(runner.pattern_rgb(x, y), rgb)


if __name__ == "__main__":
    unittest.main()
