"""Scripts/check-layers on throw-away trees: what it must refuse and accept."""

import pathlib
import subprocess
import sys
import tempfile
import textwrap
import unittest

SCRIPT = pathlib.Path(__file__).resolve().parent.parent / "check-layers"

LAYERS = """\
# Architecture

```layers
App
Gadget
WebView Window   # peers
Core
```
"""


class CheckLayers(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = pathlib.Path(self.folder.name)
        self.write("docs/architecture.md", LAYERS)
        for name in ("Core", "Window", "Gadget"):
            self.write(f"Libraries/{name}/Include/{name}/{name}.h", "#pragma once\n")
        self.write("Libraries/Gadget/WebView/Include/WebView/webview.h", '#include "Core/Core.h"\n')
        self.write("Libraries/Gadget/Source/Gadget.cpp",
                   '#include "Gadget/Gadget.h"\n#include "WebView/webview.h"\n#include <Window/Window.h>\n')
        self.write("App/Source/Main.cpp", '#include "Gadget/Gadget.h"\n#include "Local.h"\n')

    def tearDown(self):
        self.folder.cleanup()

    def write(self, path, text):
        file = self.root / path
        file.parent.mkdir(parents=True, exist_ok=True)
        file.write_text(textwrap.dedent(text))

    def run_check(self):
        done = subprocess.run([sys.executable, str(SCRIPT), str(self.root)], capture_output=True, text=True,
                              timeout=60, check=False)
        return done.returncode, done.stderr

    def test_a_tree_that_keeps_the_order_passes(self):
        self.assertEqual(self.run_check(), (0, ""))

    def test_an_upward_include_fails_naming_file_line_and_layers(self):
        self.write("Libraries/Core/Platform/Posix/Heap.cpp", '#include <cstdio>\n\n  #  include "Gadget/Gadget.h"\n')
        code, errors = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("Libraries/Core/Platform/Posix/Heap.cpp:3: Core includes Gadget/Gadget.h of Gadget, a layer above it",
                      errors)

    def test_an_upward_include_in_a_public_header_or_a_nested_library_fails(self):
        self.write("Libraries/Window/Include/Window/Window.h", '#include "Gadget/Gadget.h"\n')
        self.write("Libraries/Gadget/WebView/Source/Engine.cpp", '#include "Gadget/Gadget.h"\n')
        code, errors = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("Libraries/Window/Include/Window/Window.h:1: Window includes", errors)
        self.assertIn("Libraries/Gadget/WebView/Source/Engine.cpp:1: WebView includes", errors)

    def test_a_library_may_not_include_one_of_its_own_layer(self):
        self.write("Libraries/Window/Source/Window.cpp", '#include "WebView/webview.h"\n')
        code, errors = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("Window includes WebView/webview.h of WebView, a library of its own layer", errors)

    def test_a_library_including_the_app_fails(self):
        self.write("App/Include/App/App.h", "#pragma once\n")
        self.write("Libraries/Gadget/Source/Uses.cpp", '#include "App/App.h"\n')
        code, errors = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("Gadget includes App/App.h of App, a layer above it", errors)

    def test_benchmarks_are_checked_and_tests_are_not(self):
        self.write("Libraries/Core/Tests/CoreTests.cpp", '#include "Gadget/Gadget.h"\n')
        self.assertEqual(self.run_check(), (0, ""))
        self.write("Libraries/Core/Benchmarks/Bench.cpp", '#include "Gadget/Gadget.h"\n')
        code, errors = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("Libraries/Core/Benchmarks/Bench.cpp:1", errors)

    def test_a_library_folder_missing_from_the_list_fails(self):
        self.write("Libraries/Tray/Source/Tray.cpp", '#include "Core/Core.h"\n')
        code, errors = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("Libraries/Tray: a library missing from the layers", errors)

    def test_a_nested_library_missing_from_the_list_fails(self):
        self.write("Libraries/Window/Dialogs/Include/Dialogs/Dialogs.h", "#pragma once\n")
        code, errors = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("Libraries/Window/Dialogs: a library missing from the layers", errors)

    def test_a_listed_library_without_a_folder_fails(self):
        self.write("docs/architecture.md", LAYERS.replace("Core\n", "Core Font\n"))
        code, errors = self.run_check()
        self.assertEqual(code, 1)
        self.assertIn("Font is listed but has no folder", errors)

    def test_no_layers_block_is_an_error_of_its_own(self):
        self.write("docs/architecture.md", "# Architecture\n")
        code, errors = self.run_check()
        self.assertEqual(code, 2)
        self.assertIn("no ```layers block", errors)


if __name__ == "__main__":
    unittest.main()
