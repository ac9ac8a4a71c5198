"""Runs tools/engine-class-sizes on a source written here and checks the counts it reports.

    python3 EngineClassSizesToolTest.py <path of tools/engine-class-sizes>
"""

import json
import os
import re
import subprocess
import sys
import tempfile
import textwrap
import unittest

TOOL = None
ROW = re.compile(r"^(\S+)\s+\S+\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\+(\d+)\s*=(\d+)")

SAMPLE = textwrap.dedent("""\
    #include <stdexcept>
    class TBase {
      public:
        virtual int Size() const = 0;
        int Count() const { return count_; }
      protected:
        ~TBase() = default;
        void Grow();
        int count_ = 0;
      private:
        int hidden_ = 0;
    };
    class TDerived final : public TBase, public std::runtime_error {
      public:
        TDerived() : std::runtime_error("x") {}
        TDerived(const TDerived&) = delete;
        int Size() const override { return 1; }
        struct TPart {
            int a, b;
            bool Empty() const { return a == b; }
        };
      private:
        template <typename T> void Take(T) {}
        static int shared_;
        TPart part_;
    };
    class TSecret : private TBase {
        int Size() const override { return 2; }
    };
    """)


def run_tool(source):
    """{qualified name: (own fields, own methods, fields, public, other, methods)}."""
    with tempfile.TemporaryDirectory() as folder:
        engine = os.path.join(folder, "src", "engine")
        os.makedirs(engine)
        path = os.path.join(engine, "Sample.cpp")
        with open(path, "w", encoding="utf-8") as f:
            f.write(source)
        os.makedirs(os.path.join(folder, "build"))
        with open(os.path.join(folder, "build", "compile_commands.json"), "w") as f:
            json.dump([{"directory": folder, "file": path,
                        "command": f"c++ -std=c++20 -c {path}"}], f)
        result = subprocess.run([TOOL, "--build", os.path.join(folder, "build"), path],
                                capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(result.stderr)
    rows = {}
    for line in result.stdout.splitlines():
        match = ROW.match(line)
        if match:
            rows[match[1]] = tuple(int(n) for n in match.groups()[1:])
    return rows, result.stdout


class EngineClassSizesTool(unittest.TestCase):
    def test_own_members_and_members_with_the_bases(self):
        rows, text = run_tool(SAMPLE)
        self.assertEqual(rows["TBase"], (2, 4, 2, 2, 2, 4), text)
        # Its own: the constructor and the override (the deleted copy is none, the template one);
        # with the base: Count public, Grow non-public, Size once, no base destructor; the
        # library's base named, not counted.
        self.assertEqual(rows["TDerived"], (1, 3, 3, 3, 2, 5), text)
        self.assertIn("std::runtime_error", text)
        self.assertEqual(rows["TDerived::TPart"], (2, 1, 2, 1, 0, 1), text)
        # What a class inherits privately is non-public in it.
        self.assertEqual(rows["TSecret"], (0, 1, 2, 0, 3, 3), text)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
