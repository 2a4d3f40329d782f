#!/usr/bin/env python3
"""The system library's programs, run by the tessaro command as a user runs them.

Every NAME.tqs here runs under `tessaro run` in a scratch folder, in both
execution forms (the register form and --tree), with NAME.in (if any) as its
standard input, and otherwise an empty one. Its standard output, followed by a
line "[status N]" when it ends with a status other than 0, must equal NAME.out;
each line of NAME.err (if any) must appear in its standard error.

Beyond them: a 20 MB file read line by line in memory that does not grow with
the file, and Randomize without a seed giving different series in two runs
started together.

    check.py TESSARO SOURCE_DIR
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

TESSARO = os.path.abspath(sys.argv[1])
HERE = os.path.join(os.path.abspath(sys.argv[2]), "tests", "programs", "system")


def run(cwd, *args, stdin=b"", env=None):
    p = subprocess.run([TESSARO, "run", *args], input=stdin, capture_output=True, cwd=cwd, env=env, timeout=300)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def denied_path(folder):
    """A file this process may not write: a read-only file, or for root (whom
    permission bits do not stop) a kernel file that refuses every writer."""
    if os.geteuid() != 0:
        path = os.path.join(folder, "locked.txt")
        with open(path, "w") as f:
            f.write("x")
        os.chmod(path, 0o444)
        return path
    return "/sys/kernel/notes"


class Programs(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tqsys-")
        self.env = dict(os.environ, TQ_DENIED=denied_path(self.dir), LC_ALL="C", TZ="UTC")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_every_program_prints_its_expected_output_in_both_forms(self):
        programs = sorted(n[:-4] for n in os.listdir(HERE) if n.endswith(".tqs"))
        self.assertTrue(programs)
        for name in programs:
            stdin = b""
            if os.path.exists(os.path.join(HERE, name + ".in")):
                with open(os.path.join(HERE, name + ".in"), "rb") as f:
                    stdin = f.read()
            with open(os.path.join(HERE, name + ".out"), encoding="utf-8") as f:
                expected = f.read()
            errors = []
            if os.path.exists(os.path.join(HERE, name + ".err")):
                with open(os.path.join(HERE, name + ".err"), encoding="utf-8") as f:
                    errors = f.read().splitlines()
            for form in ([], ["--tree"]):
                work = tempfile.mkdtemp(dir=self.dir)
                shutil.copy(os.path.join(HERE, name + ".tqs"), work)
                status, out, err = run(work, *form, name + ".tqs", stdin=stdin, env=self.env)
                if status != 0:
                    out += "[status %d]\n" % status
                self.assertEqual(out, expected, "%s %s\n%s" % (name, form, err))
                for line in errors:
                    self.assertIn(line, err, "%s %s" % (name, form))

    def test_a_big_file_is_read_in_memory_that_does_not_grow_with_it(self):
        line = "the quick brown fox jumps over the lazy dog " * 2 + "\n"
        with open(os.path.join(self.dir, "big.txt"), "w") as f:
            for _ in range(20 * 1024 * 1024 // len(line) + 1):
                f.write(line)
        with open(os.path.join(self.dir, "small.txt"), "w") as f:
            f.write(line)
        shutil.copy(os.path.join(HERE, "..", "..", "..", "examples", "wordcount.tqs"), self.dir)

        # ru_maxrss of each child, taken as it ends. AddressSanitizer keeps
        # freed memory in quarantine, which would grow with the file even
        # when the program holds nothing: it is turned off for these runs.
        asan = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS", ""), "quarantine_size_mb=0"]))
        env = dict(os.environ, ASAN_OPTIONS=asan)

        def measured(path):
            p = subprocess.Popen([TESSARO, "run", "wordcount.tqs", "--", path], cwd=self.dir, env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            out = p.stdout.read()
            err = p.stderr.read()
            _, status, usage = os.wait4(p.pid, 0)
            self.assertEqual(status, 0, err)
            return usage.ru_maxrss, out.decode()

        small_kb, small_out = measured("small.txt")
        big_kb, big_out = measured("big.txt")
        lines = 20 * 1024 * 1024 // len(line) + 1
        self.assertIn("%d lines" % lines, big_out)
        self.assertIn("%d words" % (lines * 18), big_out)
        self.assertIn("1 lines", small_out)
        # The file is 20 MB: holding it, or a fair part of it, would show.
        self.assertLess(big_kb - small_kb, 8 * 1024, (small_kb, big_kb))

    KEEPER = """Begin Object Keeper
  Dim Journal As New TextFile
  Sub Main()
    Dim i As Long
    Journal.OpenWrite "kept.txt"
    For i = 1 To 3
      Journal.WriteLine "line " & i
    Next i
    Console.WriteError "ready"
    If Command = "fail" Then Throw Oops
    Print Console.ReadLine()
  End Sub
End Object
"""

    def keeper(self, how):
        with open(os.path.join(self.dir, "keeper.tqs"), "w") as f:
            f.write(self.KEEPER.replace("Command", '"%s"' % how))
        return subprocess.Popen([TESSARO, "run", "keeper.tqs"], cwd=self.dir, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def kept(self):
        with open(os.path.join(self.dir, "kept.txt")) as f:
            return f.read()

    def test_an_open_file_is_closed_with_its_text_when_the_program_fails(self):
        p = self.keeper("fail")
        _, err = p.communicate(timeout=120)
        self.assertEqual(p.returncode, 1, err)
        self.assertIn(b"Oops", err)
        self.assertEqual(self.kept(), "line 1\nline 2\nline 3\n")

    def test_ctrl_c_at_the_keyboard_stops_the_program_and_closes_its_file(self):
        p = self.keeper("wait")
        # The program says it is ready, then waits for a line that never
        # comes (standard input stays open).
        self.assertIn(b"ready", p.stderr.readline())
        time.sleep(0.3)
        p.send_signal(signal.SIGINT)
        try:
            status = p.wait(timeout=30)
        except subprocess.TimeoutExpired:
            p.kill()
            self.fail("Ctrl-C did not stop a program waiting for the keyboard")
        err = p.stderr.read()
        p.stdin.close()
        self.assertEqual(status, 130, err)
        self.assertIn(b"Ctrl-C", err)
        self.assertEqual(self.kept(), "line 1\nline 2\nline 3\n")

    def test_randomize_without_a_seed_gives_two_runs_different_series(self):
        with open(os.path.join(self.dir, "dice.tqs"), "w") as f:
            f.write("Begin Object Dice\n  Sub Main()\n    Dim i As Long\n    Randomize\n"
                    "    For i = 1 To 8\n      Print Int(Rnd * 1000000)\n    Next i\n  End Sub\nEnd Object\n")
        first = subprocess.Popen([TESSARO, "run", "dice.tqs"], cwd=self.dir, stdout=subprocess.PIPE)
        second = subprocess.Popen([TESSARO, "run", "dice.tqs"], cwd=self.dir, stdout=subprocess.PIPE)
        a, b = first.communicate()[0].split(), second.communicate()[0].split()
        self.assertEqual((len(a), len(b)), (8, 8))
        self.assertNotEqual(a, b)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
