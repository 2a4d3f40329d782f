#!/usr/bin/env python3
"""Stand-alone executables made by "tessaro build --exe" and run as a user
runs them.

    tessaro_exe_test.py TESSARO SOURCE_DIR [unittest options]

The executable's data section is read here with an independent reader (this
file parses the ELF section headers itself, and readelf agrees when it is
installed); the executables run from other folders, are stripped, have
their modules taken away or damaged and their section patched, and each
must do what "tessaro run" does or fail with a clear message and status 1.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

TESSARO = SOURCE = ""

ARGS = """Begin Object Program
  Function Main(a() As String) As Long
    Dim i As Integer
    For i = 1 To Globals.App.ArgCount - 1
      Print i; "="; Globals.App.Arg(i); "|"; a(i)
    Next i
    Print Globals.App.IsRunning; " "; Globals.App.EXEName
    Main = Globals.App.ArgCount
  End Function
End Object
"""

EVENTS = """Begin Object MyApp From Application
  Sub Startup()
    Print "startup"
  End Sub
  Sub Shutdown()
    Print "shutdown"
  End Sub
End Object
Begin Object Program
  Sub Main()
    Print "main"
    Globals.App.Quit
    Print "not reached"
  End Sub
End Object
"""

# Runs about two seconds on its timer, then ends with status 7.
WAITER = """Begin Object Waiter
  Dim N As Long
  Dim T As New Timer
  Function Main() As Long
    T.Interval = 100
    T.Enabled = True
    Print "waiting"
    Main = 7
  End Function
  Sub T_Timeout()
    N = N + 1
    If N = 20 Then T.Enabled = False
  End Sub
End Object
"""

# An Application of the program's own, written by the program: its
# Startup is the executable's program.
MAKER = """Begin Object MyApp From Application
  Sub Startup()
    Print "started as "; EXEName; " with"; ArgCount; " "; EXEModulePath
  End Sub
End Object
Begin Object Maker
  Sub Make(folder As String)
    MyApp.Path = folder
    MyApp.EXEName = "made"
    MyApp.ModulePath = "maker.tqs"
    MyApp.SplashFileName = "logo.bmp"
    MyApp.WriteEXE
    Print MyApp.EXEMatchesMe; " "; MyApp.EXEAppName; " "; MyApp.EXESplashFileName
  End Sub
End Object
"""

PEEK = """Begin Object Peek
  Sub Main(folder As String, name As String)
    Dim a As Object
    Set a = Globals.App
    a.Path = folder
    a.EXEName = name
    Print a.EXEAppName; "|"; a.EXEModulePath
  End Sub
End Object
"""


def run(*args, cwd=None):
    p = subprocess.run(list(args), capture_output=True, text=True, cwd=cwd, timeout=300)
    return p.returncode, p.stdout, p.stderr


def data_section(path):
    """(file offset, bytes) of .tqappdata, from the ELF64 section headers."""
    with open(path, "rb") as f:
        elf = f.read()
    assert elf[:4] == b"\x7fELF" and elf[4] == 2 and elf[5] == 1
    shoff, = struct.unpack_from("<Q", elf, 0x28)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", elf, 0x3A)
    def header(i):
        name, kind, _, _, offset, size = struct.unpack_from("<IIQQQQ", elf, shoff + i * shentsize)
        return name, kind, offset, size
    names_at, names_size = header(shstrndx)[2:4]
    names = elf[names_at:names_at + names_size]
    for i in range(shnum):
        name, kind, offset, size = header(i)
        if names[name:names.index(b"\0", name)] == b".tqappdata":
            return offset, elf[offset:offset + size]
    return None, None


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tqexe.")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, text):
        with open(self.path(name), "w") as f:
            f.write(text)
        return self.path(name)

    def build(self, exe, *modules, status=0):
        got = run(TESSARO, "build", "--exe", exe, *modules, cwd=self.dir)
        self.assertEqual(got[0], status, got)
        return got


class Executables(Scratch):
    def test_primes_runs_from_another_folder_as_tessaro_run_runs_it(self):
        primes = os.path.join(SOURCE, "examples", "primes.tqs")
        os.mkdir(self.path("out"))
        os.mkdir(self.path("elsewhere"))
        self.build(self.path("out", "primes"), primes)
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["primes", "primes.tqs"])
        expected = run(TESSARO, "run", primes)
        self.assertEqual(expected[0], 0)
        self.assertTrue(expected[1])
        self.assertEqual(run(self.path("out", "primes"), cwd=self.path("elsewhere")), expected)
        # A stripped copy is still the same program with the same section.
        shutil.copy(self.path("out", "primes"), self.path("out", "stripped"))
        if shutil.which("strip"):
            subprocess.run(["strip", self.path("out", "stripped")], check=True)
            self.assertEqual(data_section(self.path("out", "stripped"))[1],
                             data_section(self.path("out", "primes"))[1])
        self.assertEqual(run(self.path("out", "stripped"), cwd=self.path("elsewhere")), expected)

    def test_the_data_section_reads_byte_for_byte(self):
        self.write("main.tqs", ARGS)
        self.write("lib.tqs", "Begin Object Helper\nEnd Object\n")
        self.build(self.path("prog"), "main.tqs", "lib.tqs")
        offset, section = data_section(self.path("prog"))
        self.assertEqual(len(section), 4096)
        word, = struct.unpack_from("<I", section, 0)
        self.assertEqual(word, 0x01000000)
        texts = section[4:].split(b"\0")
        app, splash, modules = texts[0], texts[1], texts[2:4]
        self.assertTrue(app.startswith(b"Application"), app)
        self.assertEqual(splash, b"")
        self.assertEqual(modules, [b"main.tqs", b"lib.tqs"])
        used = 4 + len(app) + 1 + 1 + len(b"main.tqs\0lib.tqs\0") + 1
        self.assertEqual(section[used - 1:used], b"\0")
        self.assertEqual(section[used:], bytes(4096 - used))
        if shutil.which("readelf"):
            listing = run("readelf", "-S", "-W", self.path("prog"))[1]
            line = next(l for l in listing.splitlines() if ".tqappdata" in l)
            fields = line.split("]", 1)[1].split()
            self.assertEqual(int(fields[3], 16), offset)  # Off
            self.assertEqual(int(fields[4], 16), 4096)    # Size
            self.assertEqual(fields[1], "PROGBITS")

    def test_arguments_reach_the_program_in_order_under_both(self):
        self.write("args.tqs", ARGS)
        self.build(self.path("args"), "args.tqs")
        lines = '1=x|x\n2=two words|two words\n3=|\n'
        self.assertEqual(run(TESSARO, "run", self.path("args.tqs"), "x", "two words", ""),
                         (4, lines + "-1 args\n", ""))
        self.assertEqual(run(self.path("args"), "x", "two words", ""), (4, lines + "-1 args\n", ""))

    def test_startup_main_quit_and_shutdown_in_order(self):
        self.write("events.tqs", EVENTS)
        self.build(self.path("events"), "events.tqs")
        self.assertEqual(run(self.path("events")), (0, "startup\nmain\nshutdown\n", ""))
        # tessaro run raises no Application events; Quit still ends Main.
        self.assertEqual(run(TESSARO, "run", self.path("events.tqs")), (0, "main\n", ""))

    def test_the_written_executable_is_read_back_through_application(self):
        self.write("args.tqs", ARGS)
        self.build(self.path("args"), "args.tqs")
        self.write("peek.tqs", PEEK)
        code, out, err = run(TESSARO, "run", self.path("peek.tqs"), "--", self.dir, "args")
        self.assertEqual((code, err), (0, ""))
        self.assertRegex(out, r"^Application\S*\|args\.tqs\n$")

    def test_a_program_writes_its_own_executable_through_application(self):
        self.write("maker.tqs", MAKER)
        self.assertEqual(run(TESSARO, "run", self.path("maker.tqs"), "Maker.Make", self.dir),
                         (0, "-1 MyApp logo.bmp\n", ""))
        _, section = data_section(self.path("made"))
        self.assertEqual(section[:32], b"\x00\x00\x00\x01MyApp\0logo.bmp\0maker.tqs\0\0" + bytes(2))
        self.assertEqual(run(self.path("made"), "a"), (0, "started as made with2 maker.tqs\n", ""))


class Refusals(Scratch):
    def test_missing_and_damaged_modules_name_the_file_and_give_status_1(self):
        self.write("args.tqs", ARGS)
        os.mkdir(self.path("out"))
        self.build(self.path("out", "args"), "args.tqs")
        os.remove(self.path("out", "args.tqs"))
        os.mkdir(self.path("empty"))
        code, out, err = run(self.path("out", "args"), cwd=self.path("empty"))
        self.assertEqual((code, out), (1, ""))
        self.assertIn("args.tqs", err)
        with open(self.path("out", "args.tqs"), "w") as f:
            f.write("Begin Object Broken\n  Sub Main(\nEnd Object\n")
        code, out, err = run(self.path("out", "args"), cwd=self.path("empty"))
        self.assertEqual((code, out), (1, ""))
        self.assertIn("args.tqs:2", err)

    def test_a_section_of_another_revision_and_the_bare_template_are_refused(self):
        self.write("args.tqs", ARGS)
        self.build(self.path("args"), "args.tqs")
        offset, _ = data_section(self.path("args"))
        with open(self.path("args"), "r+b") as f:
            f.seek(offset + 3)
            f.write(b"\x02")
        self.assertEqual(run(self.path("args")), (1, "", "args: Incorrect EXE revision.\n"))
        template = os.path.join(os.path.dirname(TESSARO), "tqapp")
        code, out, err = run(template)
        self.assertEqual((code, out), (1, ""))
        self.assertIn("template", err)

    def test_a_damaged_section_is_reported_when_application_reads_it(self):
        self.write("args.tqs", ARGS)
        self.build(self.path("args"), "args.tqs")
        offset, _ = data_section(self.path("args"))
        with open(self.path("args"), "r+b") as f:
            f.seek(offset + 4)
            f.write(b"x" * 4092)  # the name never ends
        self.write("notelf", "plain text, no executable at all" * 4)
        self.write("peek.tqs", PEEK)
        for name, why in (("args", "the application name runs off its end"),
                          ("notelf", "not an ELF executable file")):
            code, out, err = run(TESSARO, "run", self.path("peek.tqs"), "--", self.dir, name)
            self.assertEqual(code, 1)
            self.assertIn(why, err)

    def test_writing_fails_cleanly_and_leaves_nothing_half_written(self):
        self.write("args.tqs", ARGS)
        # A folder that cannot be, whoever runs the test.
        code, _, err = self.build("/dev/null/args", "args.tqs", status=1)
        self.assertIn("Not a directory", err)
        # Never over the tessaro command itself.
        before = os.path.getsize(TESSARO)
        self.build(TESSARO, "args.tqs", status=1)
        self.assertEqual(os.path.getsize(TESSARO), before)
        # Over an earlier executable, even a running one: the running
        # program goes on, the new file is whole.
        self.write("waiter.tqs", WAITER)
        self.build(self.path("prog"), "waiter.tqs")
        waiting = subprocess.Popen([self.path("prog")], stdout=subprocess.PIPE, text=True)
        self.assertEqual(waiting.stdout.readline(), "waiting\n")
        self.build(self.path("prog"), "args.tqs")
        self.assertEqual(waiting.wait(timeout=60), 7)
        self.assertEqual(run(self.path("prog"), "z")[0], 2)
        self.assertEqual(sorted(os.listdir(self.dir)), ["args.tqs", "prog", "waiter.tqs"])

    def test_usage_mistakes(self):
        self.write("args.tqs", ARGS)
        self.assertEqual(self.build("prog.bin", "args.tqs", status=1)[0], 1)
        self.assertEqual(run(TESSARO, "build", "--exe", "prog", cwd=self.dir)[0], 2)
        self.assertEqual(run(TESSARO, "build", "--exe", "prog", "-o", "x", "args.tqs", cwd=self.dir)[0], 2)
        self.write("nomain.tqs", "Begin Object Idle\nEnd Object\n")
        code, _, err = self.build("prog", "nomain.tqs", status=1)
        self.assertIn("Main", err)
        self.assertFalse(os.path.exists(self.path("prog")))


if __name__ == "__main__":
    TESSARO, SOURCE = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
