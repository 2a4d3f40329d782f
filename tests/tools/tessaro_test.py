#!/usr/bin/env python3
"""The tessaro command run as a process, as a person or a script runs it.

    tessaro_test.py TESSARO TQDUMP SOURCE_DIR [unittest options]

Each test runs the built binary in a scratch folder and checks its output,
its exit status and the files it leaves. Programs in examples/ with a .out
beside them must print exactly that.
"""
import glob
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

TESSARO = TQDUMP = SOURCE = ""

CHAIN = """' A failure two calls deep; the comment lines count.
Begin Object Calc
  Function Divide(a As Long, b As Long) As Long
    Divide = a \\ b
  End Function

  Function Twice(n As Long) As Long
    Twice = Divide(n, 0) * 2
  End Function

  Function Main(who As String) As Long
    Print "hi "; who
    Main = 3
  End Function

  Sub Boom()
    Print Twice(4)
  End Sub
End Object
"""

KEEPER = """Begin Object Keeper
  Dim Runs As Long
  Sub Main()
    Runs = Runs + 1
    Print "run"; Runs
  End Sub
  Sub Fail()
    Runs = Runs + 100
    Print 1 / 0
  End Sub
End Object
"""

LOOP = """Begin Object Spin
  Dim Count As Long
  Sub Main()
    Print "spinning"
    Do
      Count = Count + 1
    Loop
  End Sub
End Object
"""

# Stop with no debugger, and a Destruct that fails while its object goes at
# the end of Main.
ENDINGS = """Begin Object Halt
  Sub Main()
    Print "before"
    Stop
    Print "after"
  End Sub
End Object
Begin Object Gone
  Sub Main()
    Dim k As New Leaver
    Print "in main"
  End Sub
End Object
Begin Object Leaver
  Sub Destruct()
    Print "leaving"
    Print 1 \\ 0
  End Sub
End Object
"""


def run(*args, stdin=None, env=None, cwd=None, timeout=120):
    p = subprocess.run([TESSARO, *args], input=stdin, capture_output=True, text=True,
                       env=env, cwd=cwd, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


class Terminal:
    """tessaro on a pseudo-terminal, as a person at a terminal runs it."""

    def __init__(self, args, env):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execve(TESSARO, [TESSARO, *args], env)
        self.seen = b""

    def expect(self, text, timeout=60):
        """Waits until text has been shown; what was shown up to its end is
        consumed."""
        end = time.time() + timeout
        while text.encode() not in self.seen:
            if time.time() > end:
                raise AssertionError("waited for %r, saw %r" % (text, self.seen))
            r, _, _ = select.select([self.fd], [], [], 0.5)
            if r:
                try:
                    self.seen += os.read(self.fd, 4096)
                except OSError:
                    break
        self.seen = self.seen[self.seen.index(text.encode()) + len(text):]

    def type(self, keys):
        os.write(self.fd, keys)

    def wait(self):
        """The exit status once the program has ended."""
        _, status = os.waitpid(self.pid, 0)
        os.close(self.fd)
        return os.waitstatus_to_exitcode(status)


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tessaro-test-")
        self.cwd = os.getcwd()
        os.chdir(self.dir)

    def tearDown(self):
        os.chdir(self.cwd)
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, name, text):
        with open(name, "w") as f:
            f.write(text)
        return name

    def read_bytes(self, name):
        with open(name, "rb") as f:
            return f.read()


class UsageAndHelp(Scratch):
    def test_help_lists_every_command_and_each_command_describes_its_options(self):
        status, out, _ = run("--help")
        self.assertEqual(status, 0)
        for cmd in ("run", "debug", "build", "text", "list", "repl", "dump"):
            self.assertIn("  " + cmd, out)
            status, out2, _ = run(cmd, "--help")
            self.assertEqual(status, 0, cmd)
            self.assertTrue(out2.startswith("usage: tessaro " + cmd), out2)
            self.assertIn("-h, --help", out2)

    def test_usage_errors_have_status_2_and_a_clear_message(self):
        cases = [
            (("frob",), "unknown command 'frob'"),
            (("--frob",), "unknown option '--frob'"),
            (("run", "--frob", "x.tqs"), "unknown option '--frob'"),
            (("run",), "no FILE to run"),
            (("build", "a.tqs", "b.tqs"), "one FILE at a time"),
            (("build", "a.tqs", "-o"), "needs a value"),
            (("text",), "no FILE"),
            (("dump", "--json=1", "x"), "takes no value"),
            (("run", "x.tqs", ".Main"), "is not Object.Method"),
        ]
        for args, text in cases:
            status, out, err = run(*args)
            self.assertEqual(status, 2, args)
            self.assertIn(text, err, args)
            self.assertEqual(out, "", args)
        status, _, err = run()
        self.assertEqual(status, 2)
        self.assertIn("usage: tessaro", err)


class Run(Scratch):
    def test_every_example_prints_its_expected_output(self):
        examples = sorted(glob.glob(os.path.join(SOURCE, "examples", "*.tqs")))
        self.assertTrue(examples)
        for tqs in examples:
            expected = tqs[:-4] + ".out"
            if not os.path.exists(expected):
                continue
            # Examples that keep state in a module run on a copy.
            shutil.copy(tqs, self.dir)
            # Examples that read the keyboard get an empty input.
            status, out, err = run("run", os.path.basename(tqs), stdin="")
            with open(expected) as f:
                self.assertEqual(out, f.read(), tqs + "\n" + err)
            self.assertEqual(status, 0, tqs + "\n" + err)

    def test_arguments_are_strings_and_a_numeric_main_gives_the_status(self):
        self.write("calc.tqs", CHAIN)
        self.assertEqual(run("run", "calc.tqs", "world")[:2], (3, "hi world\n"))
        self.assertEqual(run("run", "calc.tqs", "Calc.Main", "there")[:2], (3, "hi there\n"))
        self.assertEqual(run("run", "calc.tqs", "--", "a.b")[:2], (3, "hi a.b\n"))

    def test_arguments_reach_main_in_order_and_an_array_parameter_takes_them_all(self):
        self.write("three.tqs", "Begin Object P\n  Sub Main(a As String, b As String, c As String)\n"
                                "    Print \"a=\"; a; \" b=\"; b; \" c=\"; c\n  End Sub\nEnd Object\n")
        self.write("all.tqs", "Begin Object P\n  Sub Main(args() As String)\n    Dim i As Long\n"
                              "    For i = LBound(args) To UBound(args)\n      Print i; \"=\"; args(i); \" \";\n"
                              "    Next\n    Print\n  End Sub\nEnd Object\n")
        self.write("longs.tqs", "Begin Object P\n  Sub Main(n() As Long)\n  End Sub\nEnd Object\n")
        for form in ([], ["--tree"]):
            self.assertEqual(run("run", *form, "three.tqs", "one", "two", "three")[:2],
                             (0, "a=one b=two c=three\n"), form)
            self.assertEqual(run("run", *form, "all.tqs", "x", "y z", "")[:2], (0, "0=all.tqs 1=x 2=y z 3= \n"), form)
            self.assertEqual(run("run", *form, "all.tqs")[:2], (0, "0=all.tqs \n"), form)
            # Arguments are Strings: an array of another type is refused.
            status, out, err = run("run", *form, "longs.tqs", "1", "2")
            self.assertEqual((status, out), (1, ""), form)
            self.assertIn("longs.tqs: P.Main: ", err, form)

    def test_an_uncaught_error_names_file_line_procedure_and_the_call_chain(self):
        self.write("calc.tqs", CHAIN)
        status, out, err = run("run", "calc.tqs", "Calc.Boom")
        self.assertEqual(status, 1)
        self.assertEqual(out, "")
        self.assertEqual(err, "calc.tqs:4: Calc.Divide: Division by zero.\n"
                              "  Calc.Divide(4, 0) at calc.tqs:4\n"
                              "  Calc.Twice(4) at calc.tqs:8\n"
                              "  Calc.Boom() at calc.tqs:17\n")

    def test_stop_ends_the_run_at_its_line_and_a_failing_destruct_is_reported(self):
        self.write("endings.tqs", ENDINGS)
        self.assertEqual(run("run", "endings.tqs", "Halt.Main"),
                         (1, "before\n", "endings.tqs:4: Halt.Main: Execution Terminated.\n"
                                         "  Halt.Main() at endings.tqs:4\n"))
        status, out, err = run("run", "endings.tqs", "Gone.Main")
        self.assertEqual((status, out), (1, "in main\nleaving\n"))
        self.assertIn("endings.tqs:17: Leaver.Destruct: Division by zero.", err)

    def test_a_recursion_shows_its_first_calls_and_counts_the_rest_in_both_forms(self):
        self.write("down.tqs", "Begin Object Calc\n  Sub Down(ByVal n As Long)\n"
                               "    If n = 0 Then n = 1 \\ n\n    Down n - 1\n  End Sub\n"
                               "  Sub Main()\n    Down 50\n  End Sub\nEnd Object\n")
        expected = ("down.tqs:3: Calc.Down: Division by zero.\n"
                    "  Calc.Down(0) at down.tqs:3\n"
                    "  Calc.Down(1) at down.tqs:4\n"
                    "  Calc.Down(2) at down.tqs:4\n"
                    "  ... 48 more calls of Calc.Down ...\n"
                    "  Calc.Main() at down.tqs:7\n")
        self.assertEqual(run("run", "down.tqs"), (1, "", expected))
        self.assertEqual(run("run", "--tree", "down.tqs"), (1, "", expected))

    def test_the_chain_shows_every_frame_where_it_stands_with_its_values_now_in_both_forms(self):
        # Main and Count run in register form, Check on the tree walker (its
        # Try keeps it there): Count changes its parameter, then fails beneath
        # a call in a post-test loop's condition, whose line is the Loop line.
        self.write("facts.tqs", "Begin Object Calc\n"
                                "  Function Check(ByVal k As Long) As Long\n"
                                "    Try\n"
                                "      Check = 6 \\ k\n"
                                "    Catch Oops\n"
                                "    End Try\n"
                                "  End Function\n"
                                "  Sub Count(n As Long)\n"
                                "    Do\n"
                                "      n = n - 1\n"
                                "    Loop While Check(n) > 0\n"
                                "  End Sub\n"
                                "  Sub Main()\n"
                                "    Dim n As Long\n"
                                "    n = 3\n"
                                "    Count n\n"
                                "  End Sub\n"
                                "End Object\n")
        expected = ("facts.tqs:4: Calc.Check: Division by zero.\n"
                    "  Calc.Check(0) at facts.tqs:4\n"
                    "  Calc.Count(0) at facts.tqs:11\n"
                    "  Calc.Main() at facts.tqs:16\n")
        self.assertEqual(run("run", "facts.tqs"), (1, "", expected))
        self.assertEqual(run("run", "--tree", "facts.tqs"), (1, "", expected))

    def test_a_runaway_recursion_overflows_at_the_same_depth_in_both_forms(self):
        self.write("deep.tqs", "Begin Object Calc\n  Sub Down(ByVal n As Long)\n    Down n + 1\n  End Sub\n"
                               "  Sub Main()\n    Down 1\n  End Sub\nEnd Object\n")
        register, tree = run("run", "deep.tqs"), run("run", "--tree", "deep.tqs")
        self.assertEqual(register[0], 1)
        self.assertIn("deep.tqs:3: Calc.Down: Stack overflow.\n", register[2])
        self.assertRegex(register[2], r"more calls of Calc.Down")
        self.assertEqual(register, tree)

    def test_a_binary_module_names_the_same_lines_after_its_fields_change(self):
        self.write("fields.tqs", "Begin Object Calc\n  Dim A As Long\n  Dim B As Long\n"
                                 "  Sub Main()\n    A = 1\n    B = 2\n    Print 1 \\ 0\n  End Sub\nEnd Object\n")
        self.assertEqual(run("build", "fields.tqs")[0], 0)
        self.assertEqual(run("run", "fields.qbo"),
                         (1, "", "fields.qbo:7: Calc.Main: Division by zero.\n  Calc.Main() at fields.qbo:7\n"))

    def test_bad_input_is_named_with_status_1_and_no_crash(self):
        self.write("calc.tqs", CHAIN)
        self.write("broken.tqs", "Begin Object X\n  Sub Main()\n    Print 1 +\n  End Sub\nEnd Object\n")
        with open("noise.qbo", "wb") as f:
            f.write(bytes(range(256)) * 4)
        os.mkdir("folder.tqs")
        cases = [
            (("run", "missing.tqs"), "missing.tqs: no such file"),
            (("run", "noise.qbo"), "noise.qbo: not a module"),
            (("run", "folder.tqs"), "folder.tqs: is a folder"),
            (("run", "calc.tqs", "Calc.Nope"), "calc.tqs: Calc has no method Nope"),
            (("run", "calc.tqs", "Nobody.Main"), "calc.tqs: no object named Nobody"),
            (("run", "calc.tqs", "Calc.Main", "a", "b"), "calc.tqs: Calc.Main: Too many arguments"),
            (("run", "calc.tqs", "Calc.Main"), "calc.tqs: Calc.Main: Not enough arguments"),
            (("run", "broken.tqs"), "broken.tqs:3:14: expected an expression"),
            (("build", "broken.tqs"), "broken.tqs:3:14: expected an expression"),
        ]
        for args, text in cases:
            status, _, err = run(*args)
            self.assertEqual(status, 1, args)
            self.assertIn(text, err, args)
            self.assertNotIn("terminate called", err)
            self.assertNotIn("Sanitizer", err)
        self.write("nomain.tqs", "Begin Object X\n  Sub Other()\n  End Sub\nEnd Object\n")
        status, _, err = run("run", "nomain.tqs")
        self.assertEqual(status, 1)
        self.assertIn("nomain.tqs: no object has a Main", err)

    def test_a_script_with_an_interpreter_line_runs_directly(self):
        self.write("hi.tqs", "#!/usr/bin/env -S tessaro run\n' greets\nBegin Object Hi\n"
                             "  Sub Main()\n    Print \"hi\"\n    Print 1 / 0\n  End Sub\nEnd Object\n")
        os.chmod("hi.tqs", 0o755)
        env = dict(os.environ, PATH=os.path.dirname(TESSARO) + os.pathsep + os.environ["PATH"])
        p = subprocess.run(["./hi.tqs"], capture_output=True, text=True, env=env, timeout=60)
        self.assertEqual(p.stdout, "hi\n")
        # The interpreter line counts as a line of the file.
        self.assertTrue(p.stderr.startswith("hi.tqs:6: Hi.Main: "), p.stderr)

    def test_modules_are_found_along_tessaro_path(self):
        os.mkdir("lib")
        self.write("lib/calc.tqs", CHAIN)
        env = dict(os.environ, TESSARO_PATH=os.path.join(self.dir, "lib"))
        self.assertEqual(run("run", "calc.tqs", "x", env=env)[:2], (3, "hi x\n"))


    def test_a_prototype_in_another_module_is_loaded_first_with_l(self):
        self.write("shapes.tqs", "Begin Object Shape\n  Dim Sides As Integer\n  Sub Describe()\n"
                                 "    Print \"sides:\"; Sides\n  End Sub\nEnd Object\n")
        self.write("app.tqs", "Begin Object Square From Shape\n  .Sides = 4\n  Sub Main()\n"
                              "    Describe\n  End Sub\nEnd Object\n")
        self.assertEqual(run("run", "-l", "shapes.tqs", "app.tqs")[:2], (0, "sides:4\n"))
        status, _, err = run("run", "app.tqs")
        self.assertEqual(status, 1)
        self.assertEqual(err, "app.tqs:1:1: there is no object named 'Shape' to make 'Square' from\n")


    def test_a_failure_in_a_prototype_of_another_module_names_that_module_and_line(self):
        self.write("shapes.tqs", "' Shapes for other modules.\nBegin Object Shape\n  Dim Sides As Integer\n"
                                 "  Sub Describe(times As Long)\n    Print \"sides:\"; Sides \\ times\n"
                                 "  End Sub\nEnd Object\n")
        self.write("app.tqs", "Begin Object Square From Shape\n  .Sides = 4\n  Sub Main()\n"
                              "    Describe 2\n    Describe 0\n  End Sub\nEnd Object\n")
        status, out, err = run("run", "-l", "shapes.tqs", "app.tqs")
        self.assertEqual(status, 1)
        self.assertEqual(out, "sides:2\nsides:\n")
        self.assertEqual(err, "shapes.tqs:5: Shape.Describe: Division by zero.\n"
                              "  Shape.Describe(0) at shapes.tqs:5\n"
                              "  Square.Main() at app.tqs:5\n")
        # A binary module's line is that of its text form (no comment line).
        self.assertEqual(run("build", "shapes.tqs")[0], 0)
        status, out, err = run("run", "-l", "shapes.qbo", "app.tqs")
        self.assertTrue(err.startswith("shapes.qbo:4: Shape.Describe: Division by zero.\n"), err)


class Saving(Scratch):
    def test_a_module_is_saved_only_when_asked_and_never_after_a_failure(self):
        self.write("keeper.tqs", KEEPER)
        self.assertEqual(run("build", "keeper.tqs")[0], 0)
        before = self.read_bytes("keeper.qbo")
        self.assertEqual(run("run", "keeper.qbo")[:2], (0, "run1\n"))
        self.assertEqual(self.read_bytes("keeper.qbo"), before)
        self.assertEqual(run("run", "--save", "keeper.qbo", "Keeper.Fail")[0], 1)
        self.assertEqual(self.read_bytes("keeper.qbo"), before)
        self.assertEqual(run("run", "--save", "keeper.qbo")[:2], (0, "run1\n"))
        self.assertEqual(run("run", "--save", "keeper.qbo")[:2], (0, "run2\n"))
        self.assertEqual(run("run", "keeper.qbo")[:2], (0, "run3\n"))
        self.assertEqual(sorted(os.listdir(".")), ["keeper.qbo", "keeper.tqs"])

    def test_a_failed_build_leaves_the_old_binary_module_as_it_was(self):
        self.write("keeper.tqs", KEEPER)
        self.assertEqual(run("build", "keeper.tqs", "-o", "out.qbo")[0], 0)
        before = self.read_bytes("out.qbo")
        self.write("keeper.tqs", KEEPER.replace("Runs + 1", "Runs +"))
        self.assertEqual(run("build", "keeper.tqs", "-o", "out.qbo")[0], 1)
        self.assertEqual(self.read_bytes("out.qbo"), before)
        self.assertEqual(sorted(os.listdir(".")), ["keeper.tqs", "out.qbo"])

    def test_ctrl_c_stops_an_endless_loop_with_status_130_and_saves_nothing(self):
        self.write("spin.tqs", LOOP)
        self.assertEqual(run("build", "spin.tqs")[0], 0)
        before = self.read_bytes("spin.qbo")
        p = subprocess.Popen([TESSARO, "run", "--save", "spin.qbo"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        # Print to a pipe is buffered until the process ends: wait for the
        # loop instead of for its line.
        time.sleep(2)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=60)
        self.assertEqual(out, "spinning\n")
        self.assertEqual(p.returncode, 130)
        self.assertIn("stopped by the user (Ctrl-C)", err)
        self.assertEqual(self.read_bytes("spin.qbo"), before)


PROJECT_APP = """Begin Object App From Project
  Sub Main()
    Dim PM As New ProjectManager
    Print PM.CurrentProject Is Me; " "; ModuleCount; " "; Shelf.Count
  End Sub
End Object
"""

SHELF = """Begin Object Shelf
  Dim Count As Long
  .Count = 7
End Object
"""


class Projects(Scratch):
    def write_project(self):
        os.mkdir("proj")
        self.write("proj/app.tqs", PROJECT_APP)
        self.write("proj/shelf.tqs", SHELF)
        return self.write("proj/app.tqp", "App\napp.tqs\nshelf.tqs\n")

    def test_run_opens_a_project_file_from_its_folder_and_runs_its_main(self):
        project = self.write_project()
        self.assertEqual(run("run", project), (0, "-1 2 7\n", ""))
        # From another folder, and with a method named.
        self.assertEqual(run("run", os.path.abspath(project), "App.Main", cwd="/")[:2], (0, "-1 2 7\n"))

    def test_a_project_that_cannot_open_says_which_file_and_why(self):
        project = self.write_project()
        os.remove("proj/shelf.tqs")
        status, out, err = run("run", project)
        self.assertEqual((status, out), (1, ""))
        self.assertIn("shelf.tqs", err)
        self.write("bad.tqp", "App\n" + "x" * 300 + "\n")
        status, _, err = run("run", "bad.tqp")
        self.assertEqual(status, 1)
        self.assertIn("bad.tqp", err)
        self.assertIn("line 2: longer than 255 characters", err)
        status, _, err = run("run", "missing.tqp")
        self.assertEqual(status, 1)
        self.assertIn("missing.tqp: no such project file", err)

    def test_the_repl_opens_a_project_and_runs_in_its_module(self):
        project = self.write_project()
        status, out, err = run("repl", stdin=":project %s\n? ModuleCount; Shelf.Count\n:quit\n" % project)
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, "project proj/app.tqp: 2 modules loaded\n27\n")


LOADER = """Begin Object Loader
  Dim MM As New ModuleManager
  Sub Main()
    Dim other As Object
    other = MM.LoadModule("shelf.tqs", True)
    Shelf.Count = Shelf.Count + 1
    other.Save
    other.Unload
    Print MM.ModuleCount; " modules"
  End Sub
End Object
"""


class ProgramsAndModules(Scratch):
    def test_a_program_loads_changes_saves_and_unloads_another_module(self):
        self.write("shelf.tqs", SHELF)
        self.write("loader.tqs", LOADER)
        # Unloading destroys the module's object: its own Destruct is no
        # member call for the module's objects, and nothing fails after.
        self.assertEqual(run("run", "loader.tqs"), (0, "2 modules\n", ""))
        self.assertEqual(run("run", "loader.tqs"), (0, "2 modules\n", ""))
        with open("shelf.tqs") as f:
            self.assertIn("  .Count = 9\n", f.read())
        with open("loader.tqs") as f:
            self.assertEqual(f.read(), LOADER)


class SelfSaving(Scratch):
    def test_the_meadow_saves_its_own_module_and_the_next_run_goes_on(self):
        shutil.copy(os.path.join(SOURCE, "examples", "meadow.tqs"), "meadow.tqs")
        first = run("run", "meadow.tqs")
        self.assertEqual(first[0], 0, first[2])
        self.assertIn("A new meadow", first[1])
        second = run("run", "meadow.tqs")
        self.assertIn("The meadow again, after year 5", second[1])
        with open("meadow.tqs") as f:
            self.assertIn("  .Year = 10\n", f.read())
        self.assertEqual(sorted(os.listdir(".")), ["meadow.tqs"])


TICKER = """Begin Object Ticker
  Dim N As Long
  Dim T As New Timer
  Sub Main()
    T.Interval = 10
    T.Enabled = True
    Print "started"
  End Sub
  Sub T_Timeout()
    N = N + 1
    If N = 3 Then
      T.Enabled = False
      Print "three ticks"
    End If
    If N = 2 Then Print 1 / 0
  End Sub
  Sub Forever()
    T.Interval = 20
    T.Enabled = True
    Print "waiting"
  End Sub
End Object
"""


class Timers(Scratch):
    def test_run_serves_timers_after_main_until_the_last_stops(self):
        self.write("ticker.tqs", TICKER.replace("If N = 2 Then Print 1 / 0", ""))
        self.assertEqual(run("run", "ticker.tqs"), (0, "started\nthree ticks\n", ""))

    def test_a_failing_timeout_is_reported_with_its_line_and_stops_its_timer(self):
        self.write("ticker.tqs", TICKER.replace("If N = 3 Then", "If N = 9 Then"))
        status, out, err = run("run", "ticker.tqs", timeout=20)
        self.assertEqual((status, out), (1, "started\n"))
        self.assertIn("ticker.tqs:15: Ticker.T_Timeout: FPE: Floating Point Divide by Zero.", err)

    def test_ctrl_c_stops_a_program_waiting_for_its_timers_with_status_130(self):
        self.write("ticker.tqs", TICKER.replace("If N = 2 Then Print 1 / 0", "").replace("N = 3", "N = -1"))
        p = subprocess.Popen([TESSARO, "run", "ticker.tqs", "Ticker.Forever"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        time.sleep(1)
        self.assertIsNone(p.poll(), "the run keeps going while its timer is enabled")
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=60)
        self.assertEqual(out, "waiting\n")
        self.assertEqual(p.returncode, 130)
        self.assertIn("stopped by the user (Ctrl-C)", err)

    def test_debug_serves_timers_after_main_and_stops_in_a_timeout(self):
        self.write("ticker.tqs", TICKER.replace("If N = 2 Then Print 1 / 0", ""))
        status, out, err = run("debug", "ticker.tqs", stdin="run\nquit\n")
        self.assertEqual((status, err), (0, ""))
        self.assertIn("started\nthree ticks\nProgram finished.", out)
        # A breakpoint in the handler stops there, with the timers held,
        # and the run goes on to the last tick.
        status, out, err = run("debug", "ticker.tqs", stdin="break Ticker.T_Timeout\nrun\nprint N\n"
                               "delete 1\ncontinue\nquit\n")
        self.assertEqual((status, err), (0, ""))
        self.assertIn("Breakpoint 1, Ticker.T_Timeout:", out)
        self.assertIn("three ticks\nProgram finished.", out)

    def test_the_repl_runs_timers_between_entries(self):
        self.write("ticker.tqs", TICKER.replace("If N = 2 Then Print 1 / 0", ""))
        status, out, err = run("repl", "ticker.tqs", stdin="Ticker.T.Interval = 5\nTicker.T.Enabled = True\n"
                               "For i = 1 To 300000: Next\n? Ticker.N > 0\n")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, "-1\n")


class Conversions(Scratch):
    def test_build_then_run_gives_what_running_the_text_gives(self):
        # Every example runs to its end and prints, and so does the chain's
        # Main (status 3), given its argument. The built module must do what
        # its text does, so a run that fails for another reason (a module
        # that does not load) is no match.
        examples = [(tqs, (), 0) for tqs in sorted(glob.glob(os.path.join(SOURCE, "examples", "*.tqs")))]
        for tqs, args, status in examples + [(self.write("calc.tqs", CHAIN), ("Ada",), 3)]:
            shutil.copy(tqs, "a.tqs")
            self.assertEqual(run("build", "a.tqs")[0], 0, tqs)
            shutil.copy(tqs, "b.tqs")
            text = run("run", "b.tqs", *args, stdin="")
            binary = run("run", "a.qbo", *args, stdin="")
            self.assertEqual(text[0], status, (tqs, text[2]))
            self.assertNotEqual(text[1], "", tqs)
            self.assertEqual(binary[:2], text[:2], (tqs, binary[2]))

    def test_text_writes_a_module_that_builds_back_to_the_same_program(self):
        self.write("calc.tqs", CHAIN)
        self.assertEqual(run("build", "calc.tqs")[0], 0)
        status, out, _ = run("text", "calc.qbo", "-o", "-")
        self.assertEqual(status, 0)
        self.assertIn("Begin Object Calc", out)
        self.assertEqual(run("text", "calc.qbo", "-o", "again.tqs")[0], 0)
        with open("again.tqs") as f:
            self.assertEqual(f.read(), out)
        # A binary module's lines are those of its text form.
        status, _, err = run("run", "calc.qbo", "Calc.Boom")
        self.assertEqual(status, 1)
        self.assertTrue(err.startswith("calc.qbo:%d: Calc.Divide" % (out.splitlines().index("    Divide = a \\ b") + 1)), err)
        self.assertEqual(run("text", "calc.tqs")[0], 1)
        self.assertEqual(run("build", "calc.qbo")[0], 1)

    def test_list_shows_outline_object_and_procedure_with_the_lines_errors_name(self):
        self.write("calc.tqs", CHAIN)
        status, out, _ = run("list", "calc.tqs")
        self.assertEqual(status, 0)
        self.assertIn("    3    Function Divide(a As Long, b As Long) As Long\n", out)
        self.assertNotIn("Divide = a", out)
        status, out, _ = run("list", "calc.tqs", "calc.twice")
        self.assertEqual(out, "    7    Function Twice(n As Long) As Long\n"
                              "    8      Twice = Divide(n, 0) * 2\n"
                              "    9    End Function\n")
        status, out, _ = run("list", "-n", "calc.tqs", "Calc")
        self.assertEqual(out, CHAIN[CHAIN.index("Begin"):])
        self.assertEqual(run("list", "calc.tqs", "Calc.Nope")[0], 1)
        self.assertEqual(run("list", "calc.tqs", "Nope")[0], 1)

    def test_dump_shows_what_tqdump_shows(self):
        self.write("calc.tqs", CHAIN)
        self.assertEqual(run("build", "calc.tqs")[0], 0)
        mine = run("dump", "calc.qbo")
        theirs = subprocess.run([TQDUMP, "calc.qbo"], capture_output=True, text=True)
        self.assertEqual(mine[0], 0)
        self.assertEqual(mine[1], theirs.stdout)
        status, _, err = run("dump", "calc.tqs")
        self.assertEqual(status, 1)
        self.assertIn("not a module file", err)


class Repl(Scratch):
    def test_piped_statements_run_blocks_span_lines_and_errors_do_not_end_it(self):
        self.write("keeper.tqs", KEEPER)
        entry = ("Print 1 + 2\nFor i = 1 To 3\n  Print i;\nNext\n? 1 / 0\n"
                 "s = \"ab\": Print s & \"c\"\nRuns = 41\n? runs + 1\n:list Keeper.Main\n"
                 ":quit\nPrint \"not reached\"\n")
        status, out, err = run("repl", "keeper.tqs", stdin=entry)
        self.assertEqual(status, 0)
        self.assertEqual(out, "3\n123\nabc\n42\n    3    Sub Main()\n    4      Runs = Runs + 1\n"
                              "    5      Print \"run\"; Runs\n    6    End Sub\n")
        self.assertIn("Divide by Zero", err)
        with open("keeper.tqs") as f:
            self.assertEqual(f.read(), KEEPER)

    def test_a_name_assigned_in_one_entry_keeps_its_value_in_the_next(self):
        self.write("keeper.tqs", KEEPER)
        entry = ("x = 5\n? x\nname = \"ab\"\nFor i = 1 To 3: x = x + i: Next\n? name & x; i\n"
                 "half = 0.5\n? half * x\nRuns = x\n:save kept.tqs\n:quit\n")
        status, out, err = run("repl", "keeper.tqs", stdin=entry)
        self.assertEqual((status, out, err), (0, "5\nab114\n5.5\nsaved as kept.tqs\n", ""))
        # The REPL's own variables are no part of the module it saves.
        with open("kept.tqs") as f:
            kept = f.read()
        self.assertIn(".Runs = 11", kept)
        self.assertNotIn("half", kept)

    def test_save_writes_the_current_module_that_run_then_runs(self):
        self.write("keeper.tqs", KEEPER)
        status, out, err = run("repl", "keeper.tqs", stdin="Runs = 9\n:save kept.qbo\n:quit\n")
        self.assertEqual((status, out, err), (0, "saved as kept.qbo\n", ""))
        self.assertEqual(run("run", "kept.qbo")[:2], (0, "run10\n"))
        with open("keeper.tqs") as f:
            self.assertEqual(f.read(), KEEPER)

    def test_a_session_on_a_terminal_evaluates_shows_an_error_goes_on_and_quits(self):
        state = os.path.join(self.dir, "state")
        env = dict(os.environ, XDG_STATE_HOME=state, TERM="dumb")
        term = Terminal(["repl"], env)
        term.expect("> ")
        term.type(b"? 6 * 7\r")
        term.expect("42")
        term.type(b"Print nosuch\r")
        term.expect("'nosuch' was not found")
        term.type(b"For k = 1 To 2\r")
        term.expect("... ")
        term.type(b"Print k * 10;\rNext\r")
        term.expect("1020")
        # Ctrl-C stops a running entry, and at the prompt gives up the line;
        # neither ends the session.
        term.type(b"Do: Loop\r")
        term.expect("Do: Loop\r\n")
        time.sleep(1)
        term.type(b"\x03")
        term.expect("stopped (Ctrl-C)")
        # The Ctrl-C at the prompt gives up whatever that line holds when it
        # is ended (or, when it came before the prompt, is dropped): an
        # empty line ends it either way, and the next entry runs.
        term.type(b"\x03")
        term.type(b"\r")
        term.expect("> ")
        term.type(b"? 300 + 33\r")
        term.expect("333")
        term.type(b":quit\r")
        self.assertEqual(term.wait(), 0)
        with open(os.path.join(state, "tessaro", "history")) as f:
            self.assertIn("nosuch", f.read())


class Debug(Scratch):
    """tessaro debug on the sieve example: Sieve.Main's line 6 is
    "If IsPrime(i) Then agree = agree + 1", counted from its Sub line."""

    SESSION = ("break Sieve.Main:6\nrun\nprint count\nprint i\nstep\nwhere\nfinish\n"
               "delete 1\nagree = 100\ncontinue\nquit\n")

    def test_a_session_on_a_terminal_stops_inspects_steps_and_runs_to_the_end(self):
        primes = os.path.join(SOURCE, "examples", "primes.tqs")
        term = Terminal(["debug", primes], dict(os.environ, TERM="dumb"))

        def say(line, reply):
            term.expect("(tqdb) ")
            term.type(line.encode() + b"\r")
            term.expect(reply)

        say("break Sieve.Main:6", "Breakpoint 1 at Sieve.Main:6")
        say("run", "Breakpoint 1, Sieve.Main:6\r\n6\tIf IsPrime(i) Then agree = agree + 1")
        say("print count", "count = 46")
        say("print i", "i = 1")
        # Into the call, where the chain shows both frames with arguments.
        say("step", "Sieve.IsPrime:3\r\n3\tIf n < 2 Then Exit Function")
        say("where", "#0  IsPrime(1) at line 3\r\n  #1  Main() at line 6")
        say("finish", "Sieve.Main:")
        say("delete 1", "")
        # An assignment in the stopped frame changes what the program prints.
        say("agree = 100", "")
        say("continue", "trial division finds 146\r\nProgram finished.")
        say("quit", "")
        self.assertEqual(term.wait(), 0)

    def test_the_built_binary_module_debugs_as_its_text_does(self):
        primes = os.path.join(SOURCE, "examples", "primes.tqs")
        self.assertEqual(run("build", primes, "-o", "primes.qbo")[0], 0)
        text = run("debug", primes, stdin=self.SESSION)
        binary = run("debug", "primes.qbo", stdin=self.SESSION)
        self.assertEqual(text[0], 0)
        self.assertIn("Breakpoint 1, Sieve.Main:6", text[1])
        self.assertIn("trial division finds 146", text[1])
        # A breakpoint's file line is a line of the file each was read
        # from: the binary module's is its regenerated text.
        self.assertIn(" (primes.qbo:", binary[1])
        places = re.compile(r" \([^()\n]*:[0-9]+\)\n")
        self.assertEqual((binary[0], places.sub("\n", binary[1]), binary[2]),
                         (text[0], places.sub("\n", text[1]), text[2]))

    def test_breakpoints_take_the_file_lines_that_failure_reports_print(self):
        # Line 54 of primes.tqs is Sieve.Main's line 6.
        primes = os.path.join(SOURCE, "examples", "primes.tqs")
        session = ("break 54\ntbreak primes.tqs:54\nbreak 2\nbreak nosuch.tqs:3\nrun\nup\nquit\n")
        status, out, _ = run("debug", primes, stdin=session)
        for text in ("Breakpoint 1 at Sieve.Main:6 (", "primes.tqs:54)\n",
                     "There is a breakpoint at Sieve.Main:6 already.",
                     "No procedure at line 2.", "No procedure at line 3 of nosuch.tqs.",
                     "Breakpoint 1, Sieve.Main:6\n", "Initial frame selected; you cannot go up."):
            self.assertIn(text, out)

    def test_going_on_from_a_stop_at_a_failure_ends_the_run_with_it(self):
        self.write("keeper.tqs", KEEPER)
        status, out, _ = run("debug", "keeper.tqs", "Keeper.Fail", stdin="run\ncontinue\nquit\n")
        self.assertEqual(status, 1)
        self.assertIn("Program ended with an error: FPE: Floating Point Divide by Zero. (line 3)", out)

    def test_bad_operands_are_refused_as_run_refuses_them(self):
        self.assertEqual(run("debug")[0], 2)
        status, _, err = run("debug", "missing.tqs", stdin="quit\n")
        self.assertEqual(status, 1)
        self.assertIn("missing.tqs", err)
        status, _, err = run("debug", os.path.join(SOURCE, "examples", "primes.tqs"), "Sieve.Nothing", stdin="quit\n")
        self.assertEqual(status, 1)
        self.assertIn("Nothing", err)


if __name__ == "__main__":
    TESSARO, TQDUMP, SOURCE = (os.path.abspath(a) for a in sys.argv[1:4])
    unittest.main(argv=[sys.argv[0], *sys.argv[4:]], verbosity=2)
