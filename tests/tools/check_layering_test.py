#!/usr/bin/env python3
"""The layering check on small trees: it must name every wrong edge and only those."""

import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                    "check-layering.py")


def run(files):
    with tempfile.TemporaryDirectory() as root:
        files = {"CMakeLists.txt": "", **files}
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        result = subprocess.run([sys.executable, TOOL, root], capture_output=True, text=True)
        return result.returncode, result.stdout.splitlines()


class LayeringCheck(unittest.TestCase):
    def test_allowed_edges_pass(self):
        code, lines = run({
            "platform/com/Bstr.h": "",
            "platform/glib/Owned.h": "#include <glib.h>\n",
            "typelib/Lib.h": '#include "platform/com/Bstr.h"\n',
            "markup/Address.h": '#include "platform/com/Bstr.h"\n#include "typelib/Lib.h"\n',
            "markup/Address.cpp": '#include "markup/Address.h"\n#include "Address.h"\n',
            "platform/web/View.cpp": "#include <webkit2/webkit2.h>\n",
            "platform/web/rpc/Channel.cpp": '#include "platform/com/Bstr.h"\n',
            "host/Window.cpp": '#include "platform/web/View.cpp"\n#include "markup/Address.h"\n'
                               "#include <gtk/gtk.h>\n",
            "main.cpp": '#include "host/Window.cpp"\n#include <gtk/gtk.h>\n',
            "tests/host/WindowTest.cpp": '#include "host/Window.cpp"\n'
                                         "#include <webkit2/webkit2.h>\n",
            # A build folder inside the tree is not looked at.
            "build/gen/Bad.cpp": '#include "host/Window.cpp"\n',
            "build/CMakeCache.txt": "",
        })
        self.assertEqual((code, lines), (0, []))

    def test_each_wrong_edge_is_named_with_its_file_and_line(self):
        code, lines = run({
            "host/Window.h": "",
            "platform/web/View.h": "",
            "app/Start.cpp": '// start\n#include "host/Window.h"\n',
            "markup/Parse.cpp": '#include "app/Start.cpp"\n',
            "platform/com/Ptr.h": '#include "platform/glib/Owned.h"\n',
            "platform/glib/Owned.h": "",
            "host/Browser.cpp": '#include "platform/web/View.h"\n#include <webkit2/webkit2.h>\n',
            "app/Agent.cpp": "#include <gtk/gtk.h>\n",
            "res/Lookup.cpp": '#include "missing/File.h"\n',
            "gadgets/New.cpp": "",
        })
        self.assertEqual(code, 1)
        self.assertEqual(len(lines), 7, lines)
        text = "\n".join(lines)
        self.assertIn('app/Start.cpp:2: app may not include "host/Window.h" (host)', text)
        self.assertIn('markup/Parse.cpp:1: markup may not include "app/Start.cpp" (app)', text)
        self.assertIn("platform/com/Ptr.h:1: platform/com may not include", text)
        self.assertIn("host/Browser.cpp:2: host includes <webkit2/webkit2.h>", text)
        self.assertIn("app/Agent.cpp:1: app includes <gtk/gtk.h>", text)
        self.assertIn('res/Lookup.cpp:1: includes "missing/File.h", which is no file', text)
        self.assertIn("gadgets/New.cpp: the folder has no place in the layering", text)


if __name__ == "__main__":
    unittest.main()
