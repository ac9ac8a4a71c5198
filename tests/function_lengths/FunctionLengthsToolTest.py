"""Runs tools/function-lengths on sources written here and checks what it reports.

    python3 FunctionLengthsToolTest.py <path of tools/function-lengths>
"""

import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

TOOL = None


def statements(count, indent="    "):
    return "".join(f"{indent}x += {i};\n" for i in range(count))


def run_tool(source, *options):
    """(exit code, {name: lines}) of the tool run with --all on one file holding `source`."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "Sample.cpp")
        with open(path, "w", encoding="utf-8") as f:
            f.write(source)
        listing = subprocess.run([TOOL, "--all", *options, path], capture_output=True, text=True)
        limit = subprocess.run([TOOL, *options, path], capture_output=True, text=True)
    lengths = {}
    for line in listing.stdout.splitlines():
        lines, _, name = line.split(None, 2)
        lengths[name] = int(lines)
    return limit.returncode, lengths


class FunctionLengthsTool(unittest.TestCase):
    def test_a_function_is_measured_from_its_name_to_its_closing_brace(self):
        source = "int Long(int x)\n{\n" + statements(85) + "    return x;\n}\n"
        code, lengths = run_tool(source)
        self.assertEqual(lengths, {"Long": 89})
        self.assertEqual(code, 1)
        self.assertEqual(run_tool(source, "--max", "89")[0], 0)

    def test_members_in_and_out_of_classes_and_namespaces(self):
        source = textwrap.dedent("""\
            namespace outer {
            namespace {
            void Hidden() {
                int x = 0;
            }
            }  // namespace
            class TThing : public TBase {
              public:
                TThing() : value_(1), other_{2} {
                    value_ = 3;
                }
                int Value() const override { return value_; }
              private:
                int value_ = 0, other_ = 0;
            };
            }  // namespace outer
            auto TThing::Make(int a,
                              int b) -> std::unique_ptr<TThing> {
                return nullptr;
            }
            TThing::~TThing() noexcept {}
            """)
        code, lengths = run_tool(source)
        self.assertEqual(code, 0)
        self.assertEqual(lengths, {"Hidden": 3, "TThing": 3, "Value": 1, "TThing::Make": 4,
                                   "TThing::~TThing": 1})

    def test_tables_written_as_data_count_as_one_line(self):
        rows = "".join(f"    {{\"k{i}\", {i}}},\n" for i in range(120))
        source = (
            "const Row kTable[] = {\n" + rows + "};\n"
            "const std::vector<Row>& Table() {\n"
            "    static const std::vector<Row> table = {\n" + rows.replace("    ", "        ")
            + "    };\n    return table;\n}\n"
            "std::vector<Row> Rows() {\n    return {\n" + rows + "    };\n}\n")
        code, lengths = run_tool(source)
        self.assertEqual(code, 0)
        self.assertEqual(lengths, {"Table": 4, "Rows": 3})

    def test_blocks_lambdas_and_braces_in_texts_belong_to_their_function(self):
        source = (
            "void Outer(int x) {\n"
            "    if (x > 0) {\n" + statements(30, "        ") + "    }\n"
            "    auto step = [&](int y) {\n" + statements(30, "        ") + "    };\n"
            "    const char* text = \"} { )\"; // } {\n"
            "    /* } */ char c = '}';\n"
            "    for (int i = 0; i < 3; ++i) { step(i); }\n"
            "}\n")
        code, lengths = run_tool(source)
        self.assertEqual(lengths, {"Outer": 69})
        self.assertEqual(code, 0)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
