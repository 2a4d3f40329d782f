#!/usr/bin/env python3
"""How the tessaro command holds the store, seen from outside the process.

    tessaro_link_test.py TESSARO PODLIB [unittest options]

tessaro holds the store and libstdc++ linked in and carries the shared
library's soname, so that a library built against libtqstore.so never brings
a second store into its process.
"""
import os
import subprocess
import sys
import tempfile
import unittest

TESSARO = PODLIB = ""

HELLO = """Begin Object Program
  Sub Main()
    Print "hello"
  End Sub
End Object
"""


def dynamic_section(path):
    return subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout


class Linking(unittest.TestCase):
    def test_the_program_needs_no_shared_store_compiler_or_libstdcxx(self):
        needed = [line for line in dynamic_section(TESSARO).splitlines() if "(NEEDED)" in line]
        self.assertTrue(needed)
        for name in ("libtqstore", "libtqcompile", "libstdc++", "libgcc_s"):
            self.assertFalse([line for line in needed if name in line], name)
        self.assertIn("Library soname: [libtqstore.so.0]", dynamic_section(TESSARO))

    def test_a_library_built_against_the_shared_store_finds_the_program_as_its_store(self):
        with tempfile.TemporaryDirectory() as folder:
            program = os.path.join(folder, "hello.tqs")
            with open(program, "w") as f:
                f.write(HELLO)
            env = dict(os.environ, LD_PRELOAD=PODLIB, LD_DEBUG="files")
            # A sanitizer build's runtime must otherwise come first of all
            # libraries, before any preloaded one.
            env["ASAN_OPTIONS"] = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                         "verify_asan_link_order=0"]))
            env.pop("TQ_TEST_PODLIB_RAN", None)
            done = subprocess.run([TESSARO, "run", program], capture_output=True, text=True,
                                  env=env, timeout=60, cwd=folder)
        self.assertEqual((done.returncode, done.stdout), (0, "hello\n"), done.stderr)
        # The loader mapped the library, and nothing for its dependency on
        # libtqstore.so.0: the program answered to that name.
        self.assertIn("tqtestpodlib", done.stderr)
        self.assertNotIn("file=libtqstore", done.stderr)


if __name__ == "__main__":
    TESSARO, PODLIB = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
