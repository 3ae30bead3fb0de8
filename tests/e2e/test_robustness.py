"""Robustness of the first input: a merge killed at any moment, writes that fail on a full or
too small file system, and two runs started at once in one installation. Whatever happens, the
first input is either byte for byte the original or the complete result, and a run that fails
says why and ends with exit status 1.
"""
import fcntl
import os
import random
import re
import resource
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

import dbfread

from raw_dbf import write_table
from zuvrex_testlib import (CANNOT_OPEN_SORTED, ENTRY_ERROR_CAPTION, LOG_FILE, RUN_TIMEOUT_SECONDS,
                            Installation, file_bytes, read_log)

COMMON = {"PERIOD": 3, "RIK": 2010, "KOD": "12345678", "TYP": 0}
# What a kill may leave beside a file that was being replaced: the unfinished copy.
LEFTOVER_TEMP = re.compile(r".+\.tmp\w{6}$")


def report_rows(seed, count, tins=None, amount=1.25):
    """`count` ordinary rows with TINs drawn from `tins` distinct numbers (so that inputs
    overlap and rows merge), income kinds 1, 2 and 101, some with a hire date."""
    rng = random.Random(seed)
    tins = tins or count
    rows = []
    for number in range(1, count + 1):
        rows.append({"NP": number, "TIN": "%010d" % (1000000000 + rng.randrange(tins)),
                     "S_NAR": amount, "S_DOX": amount, "S_TAXN": amount / 5,
                     "S_TAXP": amount / 5, "OZN_DOX": rng.choice((1, 2, 101)),
                     "D_PRIYN": b"20100101" if number % 3 == 0 else None})
    return rows


def header_of(data):
    count, header_length, record_length = struct.unpack_from("<IHH", data, 4)
    return count, header_length, record_length


def assert_whole_table(test, path, read_records=True):
    """Fails unless `path` is a complete table: its size is exactly what its header says and
    (with `read_records`) dbfread reads as many records as the header counts. Returns the
    records, or None without `read_records`."""
    data = file_bytes(path)
    test.assertGreaterEqual(len(data), 32, path)
    count, header_length, record_length = header_of(data)
    test.assertEqual(len(data), header_length + count * record_length + 1, f"{path}: size")
    test.assertEqual(data[-1:], b"\x1a", f"{path}: end-of-file mark")
    if not read_records:
        return None
    records = list(dbfread.DBF(path, encoding="cp1251", ignore_missing_memofile=True))
    test.assertEqual(len(records), count, f"{path}: records")
    return records


def without_date(data):
    """A table's bytes without its last-update date (bytes 1-3), which is the day it was
    written."""
    return data[:1] + data[4:]


def limited_to(size):
    """A preexec function: files the process writes cannot grow beyond `size` bytes, and a
    write beyond it fails with EFBIG (SIGXFSZ ignored) instead of killing the process."""
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return limit


def run_tool(inst, *arguments, preexec_fn=None):
    return subprocess.run([inst.exe] + [str(a) for a in arguments], cwd=inst.dir,
                          stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=RUN_TIMEOUT_SECONDS, preexec_fn=preexec_fn)


def describe(completed):
    return (f"exit={completed.returncode}\nstderr:\n"
            f"{completed.stderr.decode('utf-8', 'replace')}")


class InterruptedRunTest(unittest.TestCase):
    """Kills (SIGKILL) a merge of three large inputs at many moments: while it reads, merges,
    writes the work and result tables, delivers, and writes the logs."""

    ROWS = 10000  # per input

    def setUp(self):
        self.inst = Installation()
        self.addCleanup(self.inst.cleanup)
        self.inputs = ["A.DBF", "B.DBF", "C.DBF"]
        for seed, name in enumerate(self.inputs):
            write_table(self.inst.path(name), report_rows(seed, self.ROWS, tins=self.ROWS * 2),
                        common=COMMON)
        self.first = self.inst.path("A.DBF")
        self.original = file_bytes(self.first)

        # The result of an uninterrupted run, and how long such a run takes.
        reference = Installation()
        self.addCleanup(reference.cleanup)
        for name in self.inputs:
            shutil.copy(self.inst.path(name), reference.path(name))
        started = time.monotonic()
        completed = run_tool(reference, *self.inputs, "4")
        self.duration = time.monotonic() - started
        self.assertEqual(completed.returncode, 0, describe(completed))
        self.reference = file_bytes(reference.path("A.DBF"))
        # The result is a valid table, whose last row is the total row.
        records = assert_whole_table(self, reference.path("A.DBF"))
        self.assertEqual((records[-1]["NP"], records[-1]["TIN"]), (99999, "XXXXXXXXXX"))

    def start(self):
        return subprocess.Popen([self.inst.exe] + self.inputs + ["4"], cwd=self.inst.dir,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def kill_after(self, seconds):
        process = self.start()
        time.sleep(seconds)
        process.kill()
        process.wait()

    def kill_when_appears(self, prefix):
        """Kills the run as soon as a new file whose name starts with `prefix` shows up in the
        installation: the moment a table is being written back, the result is being copied
        beside the first input, or the log is being written."""
        before = set(os.listdir(self.inst.dir))
        process = self.start()
        deadline = time.monotonic() + RUN_TIMEOUT_SECONDS
        while process.poll() is None and time.monotonic() < deadline:
            if any(name.startswith(prefix) for name in set(os.listdir(self.inst.dir)) - before):
                break
        process.kill()
        process.wait()

    def check_first_input(self):
        """'original' or 'result'; fails when the first input is anything else."""
        data = file_bytes(self.first)
        if data == self.original:
            return "original"
        assert_whole_table(self, self.first, read_records=False)
        self.assertEqual(without_date(data), without_date(self.reference),
                         "the first input is neither the original nor the complete result")
        return "result"

    def test_killed_run_leaves_first_input_original_or_complete(self):
        moments = [("after %.0f%% of a run" % (fraction * 100), self.kill_after,
                    fraction * self.duration)
                   for fraction in (0.02, 0.1, 0.25, 0.4, 0.55, 0.7, 0.8, 0.9, 1.0, 1.1)]
        moments += [(f"when {prefix} appears", self.kill_when_appears, prefix)
                    for prefix in ("sorted.DBF.tmp", "template.dbf.tmp", "A.DBF.tmp", "ZuvrLOG")]
        outcomes = set()
        for name, kill, when in moments:
            with self.subTest(name):
                with open(self.first, "wb") as handle:
                    handle.write(self.original)
                kill(when)
                outcomes.add(self.check_first_input())
                # The installed tables are never left half written either.
                assert_whole_table(self, self.inst.path("sorted.DBF"), read_records=False)
                assert_whole_table(self, self.inst.path("template.dbf"), read_records=False)
        # The kills fell both before and after the delivery.
        self.assertEqual(outcomes, {"original", "result"})

        # Whatever the kills left (unfinished copies beside replaced files), a normal run works.
        leftovers = set(self.inst.names()) - set(
            self.inputs + ["Zuvrex5", "sorted.DBF", "template.dbf"])
        for name in leftovers:
            self.assertTrue(LEFTOVER_TEMP.match(name) or name == LOG_FILE or
                            re.fullmatch(r"ZuvrLOG\d*\.TXT", name), name)
        with open(self.first, "wb") as handle:
            handle.write(self.original)
        completed = run_tool(self.inst, *self.inputs, "4")
        self.assertEqual(completed.returncode, 0, describe(completed))
        self.assertEqual(without_date(file_bytes(self.first)), without_date(self.reference))


class DiskFaultTest(unittest.TestCase):
    """Writes that fail: a file size limit (EFBIG) for the work table, the result table and the
    log file, a full file system (ENOSPC) for the delivery beside the first input."""

    def setUp(self):
        self.inst = Installation()
        self.addCleanup(self.inst.cleanup)
        self.first = self.inst.path("A.DBF")

    def write_inputs(self, first_rows, second_rows):
        write_table(self.first, first_rows, common=COMMON)
        write_table(self.inst.path("B.DBF"), second_rows, common=COMMON)
        return file_bytes(self.first)

    def assertFailedCleanly(self, completed, original, reason):
        stderr = completed.stderr.decode("utf-8")
        self.assertEqual(completed.returncode, 1, describe(completed))
        self.assertIn(ENTRY_ERROR_CAPTION, stderr)
        self.assertRegex(stderr, reason)
        self.assertEqual(file_bytes(self.first), original)
        self.assertEqual(self.inst.log_names(), [])
        for table in ("sorted.DBF", "template.dbf"):
            assert_whole_table(self, self.inst.path(table))
        self.assertEqual([n for n in self.inst.names() if LEFTOVER_TEMP.match(n)], [])

    def assertNextRunSucceeds(self):
        completed = run_tool(self.inst, "A.DBF", "B.DBF", "4")
        self.assertEqual(completed.returncode, 0, describe(completed))
        assert_whole_table(self, self.first)

    def test_tables_that_cannot_be_written_back(self):
        # 30 + 30 rows of distinct people: the work table holds 60 records (6635 bytes), the
        # result table one more, the total row (6737 bytes).
        header = 32 + 32 * 15 + 1
        work_size = header + 60 * 102 + 1
        cases = [
            ("work table", work_size - 1, r"sorted\.DBF.*File too large"),
            ("result table", work_size, r"template\.dbf.*File too large"),
        ]
        for name, limit, reason in cases:
            with self.subTest(name):
                original = self.write_inputs(report_rows(1, 30, tins=10 ** 6),
                                             report_rows(2, 30, tins=10 ** 6))
                completed = run_tool(self.inst, "A.DBF", "B.DBF", "4",
                                     preexec_fn=limited_to(limit))
                self.assertFailedCleanly(completed, original, reason)
                self.assertNextRunSucceeds()
                for log in self.inst.log_names():
                    os.remove(self.inst.path(log))

    def test_log_file_that_cannot_be_written(self):
        # One person in 400 rows: tiny tables, but a log line for every row found again.
        rows = [{"NP": n, "TIN": "1000000001", "S_DOX": 1.0, "OZN_DOX": 101}
                for n in range(1, 401)]
        original = self.write_inputs(rows[:1], rows)
        completed = run_tool(self.inst, "A.DBF", "B.DBF", "4", preexec_fn=limited_to(4096))

        self.assertEqual(completed.returncode, 1, describe(completed))
        stderr = completed.stderr.decode("utf-8")
        self.assertIn(ENTRY_ERROR_CAPTION, stderr)
        self.assertRegex(stderr, r"Zuvrex5\.LOG.*File too large")
        # The logs come after the delivery: the first input already holds the whole result.
        self.assertNotEqual(file_bytes(self.first), original)
        self.assertEqual(file_bytes(self.first), file_bytes(self.inst.path("template.dbf")))
        records = assert_whole_table(self, self.first)
        self.assertEqual([(r["TIN"], r["S_DOX"]) for r in records],
                         [("1000000001", 401.0), ("XXXXXXXXXX", 401.0)])
        # The failed log leaves no cut-off file behind (it is written beside and renamed), and
        # the numbered log is not attempted after the fixed-name one failed.
        self.assertEqual(self.inst.log_names(), [])
        self.assertEqual([n for n in os.listdir(self.inst.dir) if ".tmp" in n], [])

        completed = run_tool(self.inst, "A.DBF", "B.DBF", "4")
        self.assertEqual(completed.returncode, 0, describe(completed))
        self.assertEqual(read_log(self.inst.path(LOG_FILE))[-1], "Сохраняем отчет")

    def test_full_file_system_under_the_first_input(self):
        """The first input lives on a 16 KiB file system that holds it but not the result."""
        if shutil.which("unshare") is None:
            self.skipTest("unshare (util-linux) is not installed")
        sub = self.inst.subdir("install", "sub")
        prepared = self.inst.path("prepared.DBF")
        write_table(prepared, report_rows(1, 1), common=COMMON)
        write_table(self.inst.path("B.DBF"), report_rows(2, 300, tins=10 ** 6), common=COMMON)
        out = tempfile.mkdtemp(prefix="zuvrex_fault_")
        self.addCleanup(shutil.rmtree, out, True)
        # The mount exists only inside a private mount namespace: nothing outside sees it.
        script = """
            mount -t tmpfs -o size=16k tmpfs "$1" || exit 97
            cp "$2" "$1/A.DBF"
            status=0
            ./Zuvrex5 sub/A.DBF B.DBF 4 || status=$?
            cp "$1/A.DBF" "$3/A.after"
            ls -a "$1" > "$3/names"
            exit $status
        """
        completed = subprocess.run(
            ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh", sub,
             prepared, out], cwd=self.inst.dir, stdin=subprocess.DEVNULL, capture_output=True,
            timeout=RUN_TIMEOUT_SECONDS)
        if completed.returncode == 97 or (completed.returncode != 1 and
                                          b"unshare" in completed.stderr):
            self.skipTest("mounting a file system is not permitted here: " +
                          completed.stderr.decode("utf-8", "replace").strip())

        self.assertEqual(completed.returncode, 1, describe(completed))
        self.assertIn("No space left on device", completed.stderr.decode("utf-8"))
        self.assertEqual(file_bytes(os.path.join(out, "A.after")), file_bytes(prepared))
        with open(os.path.join(out, "names")) as handle:
            self.assertEqual(sorted(handle.read().split()), [".", "..", "A.DBF"])
        # The run tells in its log that the result was not delivered; it stays in template.dbf.
        self.assertEqual(read_log(self.inst.path(LOG_FILE))[-2:],
                         ["Результат сохранить не удалось.", "Сохраняем отчет"])
        self.assertEqual(len(assert_whole_table(self, self.inst.path("template.dbf"))), 302)


class ConcurrentRunsTest(unittest.TestCase):
    """Two runs in one installation share its work table, result table and log files."""

    def setUp(self):
        self.inst = Installation()
        self.addCleanup(self.inst.cleanup)

    def test_two_runs_started_at_once(self):
        write_table(self.inst.path("B.DBF"), report_rows(9, 20000, tins=30000), common=COMMON)
        firsts = {"A1.DBF": report_rows(1, 50), "A2.DBF": report_rows(2, 60)}
        for round_number in range(3):
            with self.subTest(round=round_number):
                originals = {}
                for name, rows in firsts.items():
                    write_table(self.inst.path(name), rows, common=COMMON)
                    originals[name] = file_bytes(self.inst.path(name))
                runs = {name: subprocess.Popen([self.inst.exe, name, "B.DBF", str(period)],
                                               cwd=self.inst.dir, stdin=subprocess.DEVNULL,
                                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                        for period, name in enumerate(firsts, 4)}
                outcomes = {name: (run.wait(RUN_TIMEOUT_SECONDS), run.stderr.read().decode())
                            for name, run in runs.items()}
                for run in runs.values():
                    run.stdout.close()
                    run.stderr.close()
                winners = [n for n, (status, _) in outcomes.items() if status == 0]
                losers = [n for n, (status, _) in outcomes.items() if status != 0]
                self.assertEqual(len(winners), 1, outcomes)
                winner, loser = winners[0], losers[0]

                status, stderr = outcomes[loser]
                self.assertEqual(status, 1, stderr)
                self.assertIn(CANNOT_OPEN_SORTED, stderr)
                self.assertIn("is in use by another program", stderr)
                self.assertIn(ENTRY_ERROR_CAPTION, stderr)
                self.assertEqual(file_bytes(self.inst.path(loser)), originals[loser])

                records = assert_whole_table(self, self.inst.path(winner))
                self.assertEqual(records[-1]["TIN"], "XXXXXXXXXX")
                self.assertEqual(file_bytes(self.inst.path(winner)),
                                 file_bytes(self.inst.path("template.dbf")))
                # One log per successful run: the winner's, whole, in both files.
                numbered = ["ZuvrLOG.TXT"] + [f"ZuvrLOG{n}.TXT" for n in range(1, round_number + 1)]
                self.assertEqual(self.inst.log_names(), sorted([LOG_FILE] + numbered))
                log = read_log(self.inst.path(LOG_FILE))
                self.assertIn(f'Добавляем данные из "{winner}"', log)
                self.assertNotIn(f'Добавляем данные из "{loser}"', log)
                self.assertEqual(log[-2:], ["Результат сохранен успешно.", "Сохраняем отчет"])
                self.assertEqual(read_log(self.inst.path(numbered[-1])), log)

    def test_run_that_finds_the_work_table_held_touches_nothing(self):
        """While another run holds the work table, a run fails without touching the result
        table (the other run may be about to deliver it), its first input or the logs, also
        when its inputs hold only service rows and the result pass is the first step that
        needs the work table."""
        # An earlier run left its result in template.dbf.
        write_table(self.inst.path("A.DBF"), report_rows(1, 5), common=COMMON)
        completed = run_tool(self.inst, "A.DBF", "4")
        self.assertEqual(completed.returncode, 0, describe(completed))
        for log in self.inst.log_names():
            os.remove(self.inst.path(log))

        cases = [("ordinary rows", [{"NP": 1, "TIN": "1000000001", "S_DOX": 1.0}]),
                 ("service rows only", [{"NP": 99999, "TIN": "XXXXXXXXXX", "S_DOX": 1.0}])]
        for name, rows in cases:
            with self.subTest(name), open(self.inst.path("sorted.DBF"), "rb") as held:
                fcntl.flock(held, fcntl.LOCK_EX)
                write_table(self.inst.path("A.DBF"), rows, common=COMMON)
                before = {n: file_bytes(self.inst.path(n))
                          for n in ("A.DBF", "sorted.DBF", "template.dbf")}

                completed = run_tool(self.inst, "A.DBF", "4")

                self.assertEqual(completed.returncode, 1, describe(completed))
                stderr = completed.stderr.decode("utf-8")
                self.assertIn(CANNOT_OPEN_SORTED, stderr)
                self.assertIn(ENTRY_ERROR_CAPTION, stderr)
                for file_name, data in before.items():
                    self.assertEqual(file_bytes(self.inst.path(file_name)), data, file_name)
                self.assertEqual(self.inst.log_names(), [])


if __name__ == "__main__":
    unittest.main()
