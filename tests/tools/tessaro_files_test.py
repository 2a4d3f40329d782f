#!/usr/bin/env python3
"""The tessaro command never loses or damages a user's file.

    tessaro_files_test.py TESSARO SOURCE_DIR [unittest options]

Every subcommand is run against hostile surroundings: a read-only folder, a
full disk, a file replaced during the run, symbolic links, private modes,
files marked read-only, device nodes, FIFOs, damaged modules, missing files
and saves killed halfway. After each run the
user's files are unchanged or correctly written, the status is 0, 1 or 2,
the message names the file and the reason, and nothing stray is left beside
the files or in the temporary folder.

Conditions this machine cannot give (a tmpfs needs root and a kernel that
lets it mount; a device node needs root) fall back to what can stand in for
them (a file-size limit for a full disk, a folder without write permission
for a read-only one) or are skipped with the reason.
"""
import os
import pty
import resource
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

TESSARO = SOURCE = ""

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tessaro_test import KEEPER  # noqa: E402  (counts its runs; Keeper.Fail fails)

# A module whose text is bigger than the file-size limit of the full-disk
# stand-in, so that writing it must fail.
BIG = "Begin Object Big\n  Dim Runs As Long\n  Sub Main()\n    Runs = Runs + 1\n" + "".join(
    '    Print "line %d of a long procedure"\n' % i for i in range(120)) + "  End Sub\nEnd Object\n"

# A module whose first run stores a value of every kind a text module
# keeps: array elements, amounts of money, an enumeration's value, the
# values of an embedded object and references to named and embedded
# objects.
STORE = """Enum Color
  Red = 1
  Green = 2
End Enum

Begin Object Other
  Dim Label As String
  .Label = "other"
End Object

Begin Object Store
  Dim Runs As Integer
  Dim A(3) As Long
  Dim Grid(1 To 2, 1) As String
  Dim Price As Currency
  Dim Prices(-1 To 1) As Currency
  Dim Tint As Color
  Dim Friend As Other
  Dim Links(1) As Object
  Dim Part As New Other
  Dim Deep As Object
  Sub Main()
    Runs = Runs + 1
    If Runs = 1 Then
      A(2) = 42
      Grid(1, 0) = "corner"
      Price = 0.125
      Prices(-1) = -12.34
      Tint = 2
      Set Friend = Other
      Set Links(1) = Other
      Part.Label = "mine"
      Set Deep = Part
    End If
    Print "run"; Runs
    Print A(2); " "; Grid(1, 0); " "; Price * 8; " "; Prices(-1); " "; Tint; " "; Friend.Label; " "; Links(1).Label; " "; Deep.Label
  End Sub
End Object
"""

STRAY_MARKS = (".tq-", ".building-", ".tmp")

# A module that saves itself over and over until it is killed.
SAVER = """Begin Object Keeper
  Dim Runs As Long
  Sub Main()
    Dim modules As New ModuleManager
    Do
      Runs = Runs + 1
      modules.ModuleContaining(Me).Save
    Loop
  End Sub
  Sub Bump()
    Runs = Runs + 1
  End Sub
End Object
"""


def run(*args, stdin=None, env=None, limit=None, timeout=120):
    def preexec():
        if limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    p = subprocess.run([TESSARO, *args], input=stdin, capture_output=True, text=True, env=env,
                       timeout=timeout, preexec_fn=preexec if limit is not None else None)
    return p.returncode, p.stdout, p.stderr


def can_mount():
    if os.geteuid() != 0 or not shutil.which("mount"):
        return False
    probe = tempfile.mkdtemp(prefix="tessaro-mount-")
    try:
        ok = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", probe],
                            capture_output=True).returncode == 0
        if ok:
            subprocess.run(["umount", probe], capture_output=True)
        return ok
    finally:
        os.rmdir(probe)


MOUNTS = None


class Scratch(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tessaro-files-")
        self.cwd = os.getcwd()
        os.chdir(self.dir)
        # A temporary folder of the test's own, to see what a command leaves
        # in it.
        self.tmp = os.path.join(self.dir, "tmp")
        os.mkdir(self.tmp)
        self.env = dict(os.environ, TMPDIR=self.tmp)
        self.mounted = []

    def tearDown(self):
        os.chdir(self.cwd)
        for m in reversed(self.mounted):
            subprocess.run(["umount", m], capture_output=True)
        for root, dirs, _ in os.walk(self.dir):
            for d in dirs:
                try:
                    os.chmod(os.path.join(root, d), 0o755)
                except OSError:
                    pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, name, text, mode=None):
        with open(name, "w") as f:
            f.write(text)
        if mode is not None:
            os.chmod(name, mode)
        return name

    def read(self, name):
        with open(name, "rb") as f:
            return f.read()

    def tessaro(self, *args, **kw):
        kw.setdefault("env", self.env)
        return run(*args, **kw)

    def saver_form(self, name, text, *load):
        """Writes the module text as the saver writes it, so a save may
        rewrite it; load names the modules its objects need."""
        self.write("src.tqs", text)
        needs = [a for m in load for a in ("-l", m)]
        self.assertEqual(self.tessaro("build", *needs, "src.tqs", "-o", "src.qbo")[0], 0)
        status, out, err = self.tessaro("text", *needs, "src.qbo", "-o", "-")
        self.assertEqual(status, 0, err)
        os.remove("src.tqs")
        os.remove("src.qbo")
        return self.write(name, out)

    def mount_tmpfs(self, name, size="64k"):
        global MOUNTS
        if MOUNTS is None:
            MOUNTS = can_mount()
        if not MOUNTS:
            return None
        os.mkdir(name)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + size, "tmpfs", name], check=True)
        self.mounted.append(os.path.abspath(name))
        return name

    def assertNothingStray(self, *folders):
        for folder in (".", self.tmp) + folders:
            for name in os.listdir(folder):
                self.assertFalse(any(m in name for m in STRAY_MARKS), "%s left in %s" % (name, folder))
        self.assertEqual(os.listdir(self.tmp), [])

    def assertFailed(self, result, *texts):
        status, _, err = result
        self.assertEqual(status, 1, err)
        for t in texts:
            self.assertIn(t, err)
        self.assertNotIn("terminate", err)


class HostileSurroundings(Scratch):
    def test_a_read_only_folder_runs_its_modules_and_refuses_every_write_naming_the_reason(self):
        if self.mount_tmpfs("ro"):
            self.saver_form("ro/keeper.tqs", KEEPER)
            self.assertEqual(self.tessaro("build", "ro/keeper.tqs")[0], 0)
            subprocess.run(["mount", "-o", "remount,ro", "ro"], check=True)
            reason = "Read-only file system"
        elif os.geteuid() != 0:
            os.mkdir("ro")
            self.saver_form("ro/keeper.tqs", KEEPER)
            self.assertEqual(self.tessaro("build", "ro/keeper.tqs")[0], 0)
            os.chmod("ro", 0o555)
            reason = "Permission denied"
        else:
            self.skipTest("as root only a read-only mount protects a folder, and tmpfs cannot be mounted here")
        text, binary = self.read("ro/keeper.tqs"), self.read("ro/keeper.qbo")
        # Without --save a binary module that cannot be written still runs.
        self.assertEqual(self.tessaro("run", "ro/keeper.qbo")[:2], (0, "run1\n"))
        self.assertEqual(self.tessaro("list", "ro/keeper.qbo")[0], 0)
        self.assertEqual(self.tessaro("dump", "ro/keeper.qbo")[0], 0)
        self.assertEqual(self.tessaro("run", "ro/keeper.tqs")[:2], (0, "run1\n"))
        status, out, err = self.tessaro("debug", "ro/keeper.qbo", stdin="run\n")
        self.assertEqual(status, 0, err)
        self.assertIn("run1\n", out)
        for module, texts in [("ro/keeper.qbo", ["keeper.qbo", "read-only"]), ("ro/keeper.tqs", ["keeper.tqs", reason])]:
            err = self.tessaro("repl", module, stdin="Runs = 5\n:save\n:quit\n")[2]
            for t in texts:
                self.assertIn(t, err)
        for args, texts in [
                (("run", "--save", "ro/keeper.qbo"), ["keeper.qbo", "read-only"]),
                (("run", "--save", "ro/keeper.tqs"), ["keeper.tqs", reason]),
                (("build", "ro/keeper.tqs", "-o", "ro/other.qbo"), ["other.qbo", reason]),
                (("text", "ro/keeper.qbo"), ["keeper.tqs", reason])]:
            self.assertFailed(self.tessaro(*args), *texts)
        self.assertEqual(self.read("ro/keeper.tqs"), text)
        self.assertEqual(self.read("ro/keeper.qbo"), binary)
        self.assertEqual(sorted(os.listdir("ro")), ["keeper.qbo", "keeper.tqs"])
        self.assertNothingStray()

    def full_disk(self):
        """A folder on a full disk, and the file-size limit that stands in
        for one when no disk can be made full."""
        if self.mount_tmpfs("disk", "256k"):
            return "disk", None, "No space left on device"
        os.mkdir("disk")
        return "disk", 1024, "File too large"

    def fill(self, folder):
        if folder in [os.path.basename(m) for m in self.mounted]:
            with open(os.path.join(folder, "filler"), "wb", buffering=0) as f:
                try:
                    while True:
                        f.write(b"\0" * 4096)
                except OSError:
                    pass

    def test_a_full_disk_leaves_every_old_file_whole_and_nothing_stray(self):
        folder, limit, reason = self.full_disk()
        big = self.saver_form(os.path.join(folder, "big.tqs"), BIG)
        self.assertEqual(self.tessaro("build", big, "-o", os.path.join(folder, "old.qbo"))[0], 0)
        self.write(os.path.join(folder, "old.tqs"), "old text\n")
        before = {n: self.read(os.path.join(folder, n)) for n in os.listdir(folder)}
        self.fill(folder)
        for args in [("run", "--save", big),
                     ("build", big, "-o", os.path.join(folder, "old.qbo")),
                     ("text", os.path.join(folder, "old.qbo"), "-o", os.path.join(folder, "old.tqs"))]:
            self.assertFailed(self.tessaro(*args, limit=limit), reason)
        for name, content in before.items():
            self.assertEqual(self.read(os.path.join(folder, name)), content, name)
        self.assertNothingStray(folder)

    def test_a_full_temporary_folder_does_not_fail_a_text_save(self):
        if not self.mount_tmpfs("tmpfull", "16k"):
            self.skipTest("no tmpfs can be mounted here to fill")
        self.fill("tmpfull")
        keeper = self.saver_form("keeper.tqs", KEEPER)
        env = dict(self.env, TMPDIR=os.path.abspath("tmpfull"))
        self.assertEqual(self.tessaro("run", "--save", keeper, env=env)[:2], (0, "run1\n"))
        self.assertEqual(self.tessaro("run", keeper, env=env)[:2], (0, "run2\n"))
        self.assertEqual(os.listdir("tmpfull"), ["filler"])

    def test_a_file_replaced_during_the_run_is_not_overwritten(self):
        keeper = self.saver_form("keeper.tqs", KEEPER)
        pid, fd = pty.fork()
        if pid == 0:
            os.execve(TESSARO, [TESSARO, "repl", keeper], dict(self.env, TERM="dumb"))
        seen = b""

        def expect(text):
            nonlocal seen
            end = time.time() + 60
            while text.encode() not in seen:
                self.assertLess(time.time(), end, seen)
                if select.select([fd], [], [], 0.5)[0]:
                    seen += os.read(fd, 4096)
            seen = seen[seen.index(text.encode()) + len(text):]

        expect("> ")
        os.write(fd, b"Runs = 5\r")
        expect("> ")
        # An editor saves by renaming its new file over the old one.
        self.write("edited.tqs", KEEPER.replace("run", "edited"))
        os.rename("edited.tqs", keeper)
        os.write(fd, b":save\r")
        expect("was replaced by another program since it was opened")
        os.write(fd, b":quit\r")
        _, status = os.waitpid(pid, 0)
        os.close(fd)
        self.assertEqual(self.read(keeper).decode(), KEEPER.replace("run", "edited"))
        self.assertNothingStray()

    def test_symbolic_links_are_written_through_and_stay_links(self):
        os.mkdir("real")
        self.saver_form("real/keeper.tqs", KEEPER)
        os.symlink("real/keeper.tqs", "keeper.tqs")
        self.assertEqual(self.tessaro("run", "--save", "keeper.tqs")[:2], (0, "run1\n"))
        self.assertEqual(self.tessaro("run", "real/keeper.tqs")[:2], (0, "run2\n"))
        self.assertTrue(os.path.islink("keeper.tqs"))
        # Outputs of build and text too.
        self.write("real/out.qbo", "")
        os.symlink("real/out.qbo", "out.qbo")
        self.assertEqual(self.tessaro("build", "keeper.tqs", "-o", "out.qbo")[0], 0)
        self.assertTrue(os.path.islink("out.qbo"))
        self.assertEqual(self.tessaro("run", "real/out.qbo")[:2], (0, "run2\n"))
        self.write("real/out.tqs", "")
        os.symlink("real/out.tqs", "out.tqs")
        self.assertEqual(self.tessaro("text", "out.qbo", "-o", "out.tqs")[0], 0)
        self.assertTrue(os.path.islink("out.tqs"))
        self.assertIn(b".Runs = 1", self.read("real/out.tqs"))
        self.assertNothingStray("real")

    def test_a_saved_file_keeps_its_mode_and_its_interpreter_line(self):
        keeper = self.saver_form("keeper.tqs", KEEPER)
        script = self.write("script.tqs", "#!/usr/bin/env tessaro run\n" + self.read(keeper).decode(), 0o750)
        os.chmod(keeper, 0o700)
        self.write("private.qbo", "")
        os.chmod("private.qbo", 0o600)
        for args in [("run", "--save", keeper), ("run", "--save", script),
                     ("build", keeper, "-o", "private.qbo")]:
            self.assertEqual(self.tessaro(*args)[0], 0, args)
        self.assertEqual(stat.S_IMODE(os.stat(keeper).st_mode), 0o700)
        self.assertEqual(stat.S_IMODE(os.stat(script).st_mode), 0o750)
        self.assertEqual(stat.S_IMODE(os.stat("private.qbo").st_mode), 0o600)
        self.assertTrue(self.read(script).startswith(b"#!/usr/bin/env tessaro run\nBegin Object Keeper\n"))
        self.assertEqual(self.tessaro("run", script)[:2], (0, "run2\n"))
        self.assertNothingStray()

    def test_a_file_marked_read_only_is_never_replaced_by_any_command(self):
        keeper = self.saver_form("keeper.tqs", KEEPER)
        self.assertEqual(self.tessaro("build", keeper)[0], 0)
        shutil.copy(keeper, "out.tqs")
        shutil.copy("keeper.qbo", "out.qbo")
        still = self.saver_form("still.tqs", 'Begin Object Still\n  Sub Main()\n    Print "still"\n  End Sub\nEnd Object\n')
        for name in (keeper, "keeper.qbo", "out.tqs", "out.qbo", still):
            os.chmod(name, 0o444)
        before = {name: self.read(name) for name in os.listdir(".") if name != "tmp"}
        # A module the program did not change has nothing to write.
        self.assertEqual(self.tessaro("run", "--save", still)[:2], (0, "still\n"))
        for args, named in [(("run", "--save", keeper), "keeper.tqs"),
                            (("run", "--save", "keeper.qbo"), "keeper.qbo"),
                            (("build", keeper, "-o", "out.qbo"), "out.qbo"),
                            (("text", "keeper.qbo", "-o", "out.tqs"), "out.tqs")]:
            self.assertFailed(self.tessaro(*args), named, "read-only")
        status, _, err = self.tessaro("repl", keeper, stdin="Runs = 5\n:save\n:quit\n")
        self.assertIn("keeper.tqs: the file is read-only, so it is not rewritten", err)
        for name, content in before.items():
            self.assertEqual(self.read(name), content, name)
            self.assertEqual(stat.S_IMODE(os.stat(name).st_mode), 0o444, name)
        self.assertNothingStray()

    def test_a_module_that_cannot_be_saved_is_named_and_the_others_are_saved(self):
        counter = "Begin Object Counter\n  Dim Count As Long\nEnd Object\n"
        setter = KEEPER.replace("Runs + 1\n", "Runs + 1\n    Counter.Count = 7\n")
        self.write("counter.tqs", counter)
        main = self.saver_form("main.tqs", setter, "counter.tqs")
        os.remove("counter.tqs")
        for runs, (name, make) in enumerate([
                ("marked.tqs", lambda n: os.chmod(self.saver_form(n, counter), 0o444)),
                ("hand.tqs", lambda n: self.write(n, "' Counts.\n" + counter))], 1):
            make(name)
            library = self.read(name)
            self.assertFailed(self.tessaro("run", "--save", "-l", name, main), name, "is not rewritten")
            self.assertEqual(self.read(name), library, name)
            # The program's own module was saved all the same.
            self.assertEqual(self.tessaro("run", "-l", name, main)[:2], (0, "run%d\n" % (runs + 1)), name)
        self.assertNothingStray()

    def test_a_file_the_program_itself_replaces_is_not_overwritten_by_its_save(self):
        # The program plays the other program: while it runs, its own module
        # file is written anew in place or has a new file renamed over it.
        body = 'FileSystem.WriteAllText "%s", "edited" & Chr(10)'
        for module, steps in [("keeper.tqs", [body % "keeper.tqs"]),
                              ("keeper.tqs", [body % "new.txt", 'FileSystem.Rename "new.txt", "keeper.tqs"']),
                              ("keeper.qbo", [body % "new.txt", 'FileSystem.Rename "new.txt", "keeper.qbo"'])]:
            source = KEEPER.replace("Runs + 1\n", "Runs + 1\n" + "".join("    %s\n" % s for s in steps))
            self.saver_form("keeper.tqs", source)
            if module.endswith(".qbo"):
                self.assertEqual(self.tessaro("build", "keeper.tqs")[0], 0)
                os.remove("keeper.tqs")
            self.assertFailed(self.tessaro("run", "--save", module), module,
                              "was replaced by another program since it was opened")
            self.assertEqual(self.read(module), b"edited\n", steps)
            os.remove(module)
        self.assertNothingStray()

    def special_files(self):
        os.mkfifo("fifo")
        names = ["fifo"]
        if os.geteuid() == 0:
            os.mknod("null", 0o666 | stat.S_IFCHR, os.makedev(1, 3))
            names.append("null")
        return names

    def test_devices_and_fifos_are_never_replaced_nor_read_as_modules(self):
        keeper = self.saver_form("keeper.tqs", KEEPER)
        self.assertEqual(self.tessaro("build", keeper)[0], 0)
        for name in self.special_files():
            kind = os.stat(name).st_mode
            for args in [("build", keeper, "-o", name), ("text", "keeper.qbo", "-o", name)]:
                self.assertFailed(self.tessaro(*args, timeout=30), name, "not a regular file")
            for command in ("run", "debug", "list", "text", "build", "repl", "dump"):
                self.assertFailed(self.tessaro(command, name, stdin="", timeout=30), name, "not a regular file")
            self.assertEqual(os.stat(name).st_mode, kind, name)
        self.assertNothingStray()

    def test_a_program_is_read_from_standard_input_given_as_dash(self):
        self.assertEqual(self.tessaro("run", "-", stdin=KEEPER)[:2], (0, "run1\n"))
        self.assertEqual(self.tessaro("run", "--save", "-", stdin=KEEPER)[:2], (0, "run1\n"))
        status, _, err = self.tessaro("run", "-", stdin=KEEPER.replace("Runs + 1", "Runs +"))
        self.assertEqual(status, 1)
        self.assertTrue(err.startswith("-:4:"), err)
        self.assertFailed(self.tessaro("run", "-", stdin="Begin\0"), "-: not a module")
        self.assertFailed(self.tessaro("run", "/dev/stdin", stdin=KEEPER), "give - to read a program")
        self.assertNothingStray()

    def test_damaged_modules_fail_every_command_with_the_file_named_never_an_abort(self):
        self.assertEqual(self.tessaro("build", self.write("keeper.tqs", KEEPER))[0], 0)
        good = self.read("keeper.qbo")
        damaged = [good[:len(good) // 2], good[:600]]
        # Each 512-byte sector after the header wiped in turn: directory,
        # allocation table, streams.
        for at in range(512, len(good), 512):
            damaged.append(good[:at] + bytes(512) + good[at + 512:])
        for i, content in enumerate(damaged):
            name = "damaged%d.qbo" % i
            with open(name, "wb") as f:
                f.write(content)
            for args in [("run", name), ("debug", name), ("list", name), ("text", name, "-o", "-"),
                         ("dump", name), ("repl", name)]:
                status, _, err = self.tessaro(*args, stdin="run\n")
                self.assertIn(status, (0, 1), (args, err))
                if status == 1 and args[0] != "dump":
                    self.assertTrue(err.startswith(name) or name in err.splitlines()[0], (args, err))
                self.assertNotIn("terminate", err)
            self.assertEqual(self.read(name), content)
        self.assertNothingStray()

    def test_a_missing_file_is_named_by_every_command(self):
        for command in ("run", "debug", "list", "text", "build", "dump"):
            status, _, err = self.tessaro(command, "nosuch.qbo", stdin="")
            self.assertEqual(status, 1, command)
            self.assertIn("nosuch.qbo", err)
        # The REPL ends before its prompt, as run does.
        self.assertFailed(self.tessaro("repl", "nosuch.tqs", stdin="? 1\n:quit\n"), "nosuch.tqs: no such file")
        self.assertEqual(os.listdir("."), ["tmp"])

    def test_a_file_size_limit_fails_a_save_cleanly_and_a_killed_save_is_cleaned_up(self):
        big = self.saver_form("big.tqs", BIG)
        before = self.read(big)
        self.assertFailed(self.tessaro("run", "--save", big, limit=1024), "big.tqs", "File too large")
        self.assertEqual(self.read(big), before)
        self.assertNothingStray()
        # What a save killed halfway leaves is removed by the next save.
        self.write(".big.tqs.tq-AbC123", "half a module")
        self.assertEqual(self.tessaro("run", "--save", big)[0], 0)
        self.assertNothingStray()


    def test_saves_killed_at_any_moment_leave_a_whole_module_and_the_next_save_nothing_stray(self):
        self.saver_form("keeper.tqs", SAVER)
        self.assertEqual(self.tessaro("build", "keeper.tqs", "-o", "keeper.qbo")[0], 0)
        for module in ("keeper.tqs", "keeper.qbo"):
            for delay in (0.5, 1.0, 2.5):
                p = subprocess.Popen([TESSARO, "run", module], env=self.env, stdout=subprocess.DEVNULL)
                time.sleep(delay)
                p.send_signal(signal.SIGKILL)
                p.wait()
                self.assertEqual(os.listdir(self.tmp), [], (module, delay))
                # The old module or a newer one, whole: every command reads it.
                status, out, err = self.tessaro("list", module)
                self.assertEqual(status, 0, (module, delay, err))
            self.assertIn("  .Runs = ", out, module)
            # A save after the kills takes away what they left beside the file.
            self.assertEqual(self.tessaro("run", "--save", module, "Keeper.Bump")[0], 0, module)
            self.assertNothingStray()
            self.assertFalse([n for n in os.listdir(".") if n.endswith("-journal")], module)

class SavingText(Scratch):
    def test_every_example_survives_run_save_byte_for_byte_unless_it_changed_and_is_refused(self):
        rewritten = []
        for path in sorted(os.listdir(os.path.join(SOURCE, "examples"))):
            if not path.endswith(".tqs"):
                continue
            shutil.copy(os.path.join(SOURCE, "examples", path), path)
            os.chmod(path, 0o750)
            before = self.read(path)
            status, _, err = self.tessaro("run", "--save", path)
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o750)
            if status != 0:
                self.assertFailed((status, "", err), path, "is not rewritten")
            if self.read(path) != before:
                # Only a file in the saver's form is rewritten, into that form.
                self.assertEqual(status, 0, path)
                self.assertEqual(self.read(self.saver_form("again.tqs", before.decode())), before, path)
                self.assertEqual(self.read(self.saver_form("again.tqs", self.read(path).decode())),
                                 self.read(path), path)
                rewritten.append(path)
        # The meadow keeps its state in its module between runs.
        self.assertEqual(rewritten, ["meadow.tqs"])
        self.assertNothingStray()

    def test_a_changed_module_rewrites_a_saver_form_file_but_never_a_hand_written_one(self):
        keeper = self.saver_form("keeper.tqs", KEEPER)
        self.assertEqual(self.tessaro("run", "--save", keeper)[:2], (0, "run1\n"))
        self.assertIn(b"  .Runs = 1\n", self.read(keeper))
        hand = self.write("hand.tqs", "' Counts its runs.\n" + KEEPER)
        self.assertFailed(self.tessaro("run", "--save", hand), "hand.tqs", "is not rewritten")
        self.assertEqual(self.read(hand).decode(), "' Counts its runs.\n" + KEEPER)
        # The REPL's save of a module that did not change writes nothing.
        self.assertEqual(self.tessaro("repl", hand, stdin=":save\n:quit\n")[:2], (0, "saved hand.tqs\n"))
        self.assertEqual(self.read(hand).decode(), "' Counts its runs.\n" + KEEPER)
        # The changes can be kept under another name.
        status, out, err = self.tessaro("repl", hand, stdin="Runs = 7\n:save kept.tqs\n:quit\n")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(self.tessaro("run", "kept.tqs")[:2], (0, "run8\n"))

    def round_trip(self, path):
        shutil.copy(os.path.join(SOURCE, "examples", path), "a.tqs")
        self.assertEqual(self.tessaro("build", "a.tqs")[0], 0, path)
        self.assertEqual(self.tessaro("text", "a.qbo", "-o", "b.tqs")[0], 0, path)
        self.assertEqual(self.tessaro("build", "b.tqs")[0], 0, path)
        expected = self.tessaro("run", "a.tqs")
        self.assertEqual(expected[0], 0, path)
        self.assertTrue(expected[1], path)
        self.assertEqual(self.tessaro("run", "b.qbo")[:2], expected[:2], path)

    def test_text_then_build_then_run_gives_what_running_the_text_gives(self):
        for path in sorted(os.listdir(os.path.join(SOURCE, "examples"))):
            if path.endswith(".tqs") and path != "objects.tqs":
                self.round_trip(path)

    # CopiedFrom lists Animal's clones in the order the module made them:
    # the text keeps that order, or "made from Animal: Bird" moves.
    def test_an_embedded_clone_with_values_survives_text_then_build(self):
        self.round_trip("objects.tqs")

    def test_every_value_a_program_stores_survives_a_text_save_then_build(self):
        # The first run sets one value of each kind and saves the module as
        # text; the binary module built from that text must read them back.
        keeper = self.saver_form("store.tqs", STORE)
        first = self.tessaro("run", "--save", keeper)
        self.assertEqual(first[0], 0, first[2])
        text = self.read(keeper).decode()
        for line in ("  .A(2) = 42\n", "  .Grid(1, 0) = \"corner\"\n", "  .Price = 0.125\n",
                     "  .Prices(-1) = -12.34\n", "  .Tint = Green\n", "  .Friend = Other\n",
                     "  .Links(1) = Other\n", "  .Deep = Store.Part\n", "  Type Part\n    .Label = \"mine\"\n"):
            self.assertIn(line, text)
        self.assertEqual(self.tessaro("build", keeper, "-o", "store.qbo")[0], 0)
        second = self.tessaro("run", "store.qbo")
        self.assertEqual(second[0], 0, second[2])
        # Price * 8 shows that 0.125 kept its last digit (0.12 or 0.13 would
        # give 0.96 or 1.04).
        values = "42 corner 1.00 -12.34 2 other other mine\n"
        self.assertEqual(first[1], "run1\n" + values)
        self.assertEqual(second[1], "run2\n" + values)

    def test_outputs_never_replace_their_source_nor_a_module_of_the_other_form(self):
        keeper = self.write("keeper.tqs", KEEPER)
        self.assertEqual(self.tessaro("build", keeper)[0], 0)
        binary = self.read("keeper.qbo")
        self.assertFailed(self.tessaro("text", "keeper.qbo", "-o", "keeper.qbo"), "would replace the source")
        self.assertFailed(self.tessaro("text", "keeper.qbo", "-o", "./keeper.qbo"), "would replace the source")
        self.assertFailed(self.tessaro("build", keeper, "-o", keeper), "would replace the source")
        shutil.copy("keeper.qbo", "other.qbo")
        self.assertFailed(self.tessaro("text", "keeper.qbo", "-o", "other.qbo"), "other.qbo: is a binary module")
        self.assertFailed(self.tessaro("build", keeper, "-o", self.write("notes.txt", "my notes\n")),
                          "notes.txt: is a text module")
        self.assertEqual(self.read("keeper.qbo"), binary)
        self.assertEqual(self.read("notes.txt"), b"my notes\n")
        self.assertEqual(self.read(keeper).decode(), KEEPER)

    def test_text_of_objects_made_from_another_module_names_its_prototype_or_is_refused(self):
        self.write("shapes.tqs", "Begin Object Shape\n  Dim Sides As Integer\n  Sub Describe()\n"
                                 "    Print Sides; \" sides\"\n  End Sub\nEnd Object\n")
        self.write("user.tqs", "Begin Object Square From Shape\n  .Sides = 4\nEnd Object\n\n"
                               "Begin Object Program\n  Sub Main()\n    Square.Describe\n  End Sub\nEnd Object\n")
        self.assertEqual(self.tessaro("build", "shapes.tqs")[0], 0)
        self.assertEqual(self.tessaro("build", "-l", "shapes.qbo", "user.tqs")[0], 0)
        for output in ("-", "user.tqs"):
            self.assertFailed(self.tessaro("text", "user.qbo", "-o", output),
                              "user.qbo: Cannot write the module as text: its objects are made from Shape of a "
                              "module that is not loaded")
        self.assertEqual(self.tessaro("text", "-l", "shapes.qbo", "user.qbo", "-o", "again.tqs")[0], 0)
        self.assertIn(b"Begin Object Square From Shape\n", self.read("again.tqs"))
        self.assertEqual(self.tessaro("run", "-l", "shapes.tqs", "again.tqs")[:2], (0, "4 sides\n"))

    def test_control_bytes_in_comments_and_strings_are_text_to_every_command_and_a_nul_to_none(self):
        self.write("ctl.tqs", "' a \x01 comment \x1b[1m\nBegin Object C\n  Sub Main()\n"
                              "    Print Len(\"a\x02b\")\n  End Sub\nEnd Object\n")
        self.assertEqual(self.tessaro("run", "ctl.tqs")[:2], (0, "3\n"))
        self.assertEqual(self.tessaro("list", "ctl.tqs")[0], 0)
        self.assertEqual(self.tessaro("build", "ctl.tqs")[0], 0)
        self.write("nul.tqs", "Begin Object C\n  ' \0\nEnd Object\n")
        for command in ("run", "list", "build", "debug"):
            self.assertFailed(self.tessaro(command, "nul.tqs", stdin=""),
                              "nul.tqs: not a module (neither a binary module nor text: a NUL byte at offset 19)")


GROW = """Begin Object Grow
  Sub Main()
    Dim s As String
    s = "x"
    Print "before"
    Try
      Do
        s = s & s
      Loop
    Catch OutOfMemory
      Print "caught"
    End Try
    s = "y"
    Print "after"
    Do
      s = s & s
    Loop
  End Sub
End Object
"""

# Texts doubled past the most characters Len counts (2147483647), in each
# way a statement makes a String: in place in a local and in a field, and
# anew into another variable.
TOO_LONG = """Begin Object Grower
  Dim Field As String
  Function Local() As Long
    Dim s As String
    s = Space(1073741824)
    s = s & s
    Local = Len(s)
  End Function
  Function Held() As Long
    Field = Space(1073741824)
    Field = Field & Field
    Held = Len(Field)
  End Function
  Function Made() As Long
    Dim s As String, t As String
    s = Space(1073741824)
    t = s & s
    Made = Len(t)
  End Function
  Sub Main()
    Try
      Print Local()
    Catch OutOfMemory
      Print "local refused"
    End Try
    Try
      Print Held()
    Catch OutOfMemory
      Print "field refused"
    End Try
    Field = ""
    Try
      Print Made()
    Catch OutOfMemory
      Print "new refused"
    End Try
    Print Made()
  End Sub
End Object
"""


class OutOfMemory(Scratch):
    def test_running_out_of_memory_is_a_failure_a_program_catches_and_tessaro_reports(self):
        # Memory is made scarce by a limit on the address space. The address
        # sanitizer needs more address space than any such limit leaves, and
        # its operator new ends the process rather than throw.
        with open(TESSARO, "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("the address sanitizer's allocator never reports a failed allocation")

        def preexec():
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        self.write("grow.tqs", GROW)
        for form in ([], ["--tree"]):
            p = subprocess.run([TESSARO, "run", *form, "grow.tqs"], capture_output=True, text=True, env=self.env,
                               preexec_fn=preexec, timeout=300)
            self.assertEqual((p.returncode, p.stdout), (1, "before\ncaught\nafter\n"), p.stderr)
            self.assertTrue(p.stderr.startswith("grow.tqs:16: Grow.Main: Out of memory\n"), p.stderr)

    def test_a_string_longer_than_len_counts_is_refused_before_it_is_made(self):
        # The tree walker's in-place appends; 2 GB of memory at most.
        self.write("long.tqs", TOO_LONG)
        status, out, err = self.tessaro("run", "--tree", "long.tqs", timeout=600)
        self.assertEqual((status, out), (1, "local refused\nfield refused\nnew refused\n"), err)
        self.assertTrue(err.startswith("long.tqs:17: Grower.Made: String too long: a String holds at most "
                                       "2147483647 characters\n"), err)


if __name__ == "__main__":
    TESSARO, SOURCE = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
