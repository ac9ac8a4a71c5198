"""Runs tools/include-cycles on small trees written here and checks what it finds.

    python3 IncludeCyclesToolTest.py <path of tools/include-cycles>
"""

import os
import subprocess
import sys
import tempfile
import unittest

TOOL = None


def run_tool(files, *folders):
    """(exit code, output) of the tool on a tree holding `files` (path -> text)."""
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write(text)
        run = subprocess.run([TOOL, root, *folders], capture_output=True, text=True)
    return run.returncode, run.stdout


class IncludeCyclesTool(unittest.TestCase):
    def test_a_dialog_whose_source_includes_the_window_that_includes_it_is_a_circle(self):
        files = {
            "app/Window.h": "#pragma once\n",
            "app/Window.cpp": '#include "app/Window.h"\n#include "app/Dialog.h"\n',
            "app/Dialog.h": "#pragma once\n",
            "app/Dialog.cpp": '#include "app/Dialog.h"\n#include "app/Window.h"\n',
        }
        code, output = run_tool(files, "app")
        self.assertEqual(code, 1)
        self.assertIn("app/Dialog -> app/Window -> app/Dialog", output)

    def test_a_longer_circle_through_headers_is_found_and_one_way_includes_pass(self):
        files = {
            "app/A.h": '#include "app/B.h"\n',
            "app/B.h": '#include "app/C.h"\n#include <vector>\n',
            "app/C.h": "#pragma once\n",
            "app/C.cpp": '#include "app/C.h"\n#include "app/A.h"\n',
        }
        self.assertEqual(run_tool(files, "app")[0], 1)
        files["app/C.cpp"] = '#include "app/C.h"\n#include "core/Missing.h"\n'
        self.assertEqual(run_tool(files, "app"), (0, ""))

    def test_only_the_folders_named_are_searched(self):
        files = {
            "engine/X.h": '#include "engine/Y.h"\n',
            "engine/Y.h": '#include "engine/X.h"\n',
            "app/Z.cpp": '#include "engine/X.h"\n',
        }
        self.assertEqual(run_tool(files, "app")[0], 0)
        self.assertEqual(run_tool(files, "engine")[0], 1)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
