"""The Windows build, run under wine, next to the Linux build on the same inputs.

Each scenario runs both executables, each in its own copy of the installation (the executable
with template.dbf and sorted.DBF), on byte-identical input files with the same command line.
The delivered table and the other tables must be the same bytes apart from the header's
last-update date, and the log files the same bytes apart from the time stamp line.

Needs ZUVREX_WINDOWS_EXE (the cross-built Zuvrex5.exe, its two tables beside it) and the Linux
build in ZUVREX_BIN_DIR (default build/bin); scripts/test-windows.sh builds both and sets them.
Without ZUVREX_WINDOWS_EXE the tests are skipped. wine runs in a private prefix in a temporary
directory with no display; ZUVREX_NO_DIALOGS=1 turns the message boxes into lines on standard
error, so no box can wait for a click.
"""
import datetime
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

import dbf
import dbfread

HERE = os.path.dirname(os.path.abspath(__file__))
WINDOWS_EXE = os.environ.get("ZUVREX_WINDOWS_EXE", "")
LINUX_BIN_DIR = os.environ.get("ZUVREX_BIN_DIR") or os.path.join(HERE, "..", "..", "build", "bin")
SKIP_REASON = ("ZUVREX_WINDOWS_EXE is not set: the Windows build is tested under wine by "
               "scripts/test-windows.sh")

INSTALLED_TABLES = ("template.dbf", "sorted.DBF")
WINE_START_TIMEOUT_SECONDS = 300
RUN_TIMEOUT_SECONDS = 120

LAYOUT = ("NP N(5,0); PERIOD N(1,0); RIK N(4,0); KOD C(10); TYP N(1,0); TIN C(10); "
          "S_NAR N(12,2); S_DOX N(12,2); S_TAXN N(12,2); S_TAXP N(12,2); "
          "OZN_DOX N(3,0); D_PRIYN D; D_ZVILN D; OZN_PILG N(2,0); OZNAKA N(1,0)")

BANNER_BYTES = b"Zuvr for 1DF reports. V1.23\r\r\n"
USAGE_BOX = ("Сшиватель отчетов по форме 1ДФ (1.23)\n"
             "Формат вызова: Zuvrex5.EXE <первый файл> <второй файл> <№ периода>\n\r"
             "Например: Zuvrex5.EXE REPORT.DBF REP_DB01.DBF 4\n")
ENTRY_ERROR_CAPTION = "Ошибка обработки командной строки."
CANNOT_OPEN_INPUT_BOX = "Ошибка\nНе могу открыть входной файл.\n"
LOG_FILES = ("Zuvrex5.LOG", "ZuvrLOG.TXT")
TIMESTAMP = re.compile(r"\d\d\.\d\d\.\d{4}  \d\d:\d\d:\d\d")

# Three reports of one employer. A first file name in Cyrillic and a second one with a blank
# show that arguments reach the program whole and in UTF-8 (the log names them).
D = datetime.date
FIRST_INPUT = "ОТЧЕТ.DBF"
INPUTS = {
    FIRST_INPUT: [
        dict(NP=1, TIN="2345678901", S_NAR=15000, S_DOX=15000, S_TAXN=2250, S_TAXP=2250,
             OZN_DOX=101, D_PRIYN=D(2009, 2, 1)),
        dict(NP=2, TIN="1234567890", S_NAR=9000.5, S_DOX=9000.5, S_TAXN=1350.08,
             S_TAXP=1350.08, OZN_DOX=1),
        dict(NP=3, TIN="4567890123", S_NAR=1800, S_DOX=1800, OZN_DOX=22, OZN_PILG=3),
        dict(NP=99999, TIN="XXXXXXXXXX", S_NAR=25800.5, S_DOX=25800.5),
    ],
    "REP 2.DBF": [
        dict(NP=1, TIN="1234567890", S_NAR=3000.25, S_DOX=3000.25, S_TAXN=450.04,
             S_TAXP=450.04, OZN_DOX=2),
        dict(NP=2, TIN="2345678901", S_NAR=5000, S_DOX=5000, S_TAXN=750, S_TAXP=750,
             OZN_DOX=101, D_PRIYN=D(2009, 2, 1), D_ZVILN=D(2010, 3, 15)),
        dict(NP=3, TIN="5678901234", S_NAR=7300, S_DOX=7300, S_TAXN=1095, S_TAXP=1095,
             OZN_DOX=102),
    ],
    "REP3.DBF": [
        dict(NP=1, TIN="1234567890", S_NAR=100.1, S_DOX=100.1, S_TAXN=15.02, S_TAXP=15.02,
             OZN_DOX=1),
        dict(NP=2, TIN="0123456789", S_NAR=50, S_DOX=50, OZN_DOX=126),
    ],
}
MERGED_ROWS = 5
SETTINGS = ("[main]\nAddCount=2\n\n[Add1]\nNP=99991\nTIN=0123456789\nS_DOX=9\n\n"
            "[Add2]\nNP=99992\nS_DOX=120.50\n")


def write_report(path, rows):
    table = dbf.Table(path, LAYOUT, dbf_type="db3", codepage="cp1251")
    table.open(dbf.READ_WRITE)
    try:
        for values in rows:
            record = {"RIK": 2010, "KOD": "12345678", "TYP": 0, "PERIOD": 3}
            record.update(values)
            table.append({name.lower(): value for name, value in record.items()})
    finally:
        table.close()


def read_bytes(path):
    with open(path, "rb") as handle:
        return handle.read()


def table_without_date(path):
    """The bytes of a DBF file with the header's last-update date (bytes 1-3) blanked."""
    data = bytearray(read_bytes(path))
    data[1:4] = b"\0\0\0"
    return bytes(data)


def log_lines(path):
    """A log file as Windows-1251 lines; each must end in CR LF."""
    data = read_bytes(path)
    assert data.endswith(b"\r\n"), f"{path} does not end in CR LF"
    return data[:-2].decode("cp1251").split("\r\n")


class Run:
    def __init__(self, directory, completed):
        self.dir = directory
        self.returncode = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr.decode("utf-8")

    def path(self, name):
        return os.path.join(self.dir, name)

    def describe(self):
        return f"in {self.dir}: exit {self.returncode}, stdout {self.stdout!r}\n{self.stderr}"


@unittest.skipUnless(WINDOWS_EXE, SKIP_REASON)
class WindowsBuildTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="zuvrex_windows_")
        cls.env = dict(os.environ, WINEPREFIX=os.path.join(cls.root, "wineprefix"),
                       WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                       ZUVREX_NO_DIALOGS="1")
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            cls.env.pop(name, None)
        cls.wine = shutil.which(os.environ.get("WINE", "wine"))
        if cls.wine is None:
            raise RuntimeError("ZUVREX_WINDOWS_EXE is set but wine is not installed")
        # The first start of wine creates the prefix, which takes a while; it is done once here.
        subprocess.run([cls.wine, "wineboot", "--init"], env=cls.env, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=WINE_START_TIMEOUT_SECONDS, check=True)
        cls.case_number = 0

    @classmethod
    def tearDownClass(cls):
        wineserver = shutil.which("wineserver")
        if wineserver:
            subprocess.run([wineserver, "-k"], env=cls.env, capture_output=True, timeout=60)
        for top, dirs, files in os.walk(cls.root):
            for name in dirs + files:
                path = os.path.join(top, name)
                if not os.path.islink(path):
                    os.chmod(path, stat.S_IRWXU)
        shutil.rmtree(cls.root, ignore_errors=True)

    def install(self, name, executable, inputs, settings):
        """A fresh installation directory holding `executable`, the tables beside it, the
        input files (copied from `inputs`) and, when given, Zuvrex5.INI."""
        directory = os.path.join(self.case_dir, name)
        os.makedirs(directory)
        source_dir = os.path.dirname(os.path.abspath(executable))
        for file_name in (os.path.basename(executable),) + INSTALLED_TABLES:
            shutil.copy2(os.path.join(source_dir, file_name), directory)
        for file_name in os.listdir(inputs):
            shutil.copy2(os.path.join(inputs, file_name), directory)
        if settings is not None:
            with open(os.path.join(directory, "Zuvrex5.INI"), "wb") as handle:
                handle.write(settings.replace("\n", "\r\n").encode("cp1251"))
        return directory

    def run_both(self, arguments, reports=None, settings=None, read_only=()):
        """Runs the Linux and the Windows build with `arguments` on copies of the same files;
        returns (linux, windows) runs."""
        type(self).case_number += 1
        self.case_dir = os.path.join(self.root, f"case{self.case_number}")
        inputs = os.path.join(self.case_dir, "inputs")
        os.makedirs(inputs)
        for name, rows in (reports or {}).items():
            write_report(os.path.join(inputs, name), rows)
        runs = []
        for name, executable, prefix in (
                ("linux", os.path.join(LINUX_BIN_DIR, "Zuvrex5"), []),
                ("windows", WINDOWS_EXE, [self.wine])):
            directory = self.install(name, executable, inputs, settings)
            for file_name in read_only:
                os.chmod(os.path.join(directory, file_name), 0o444)
            program = os.path.join(directory, os.path.basename(executable))
            completed = subprocess.run(prefix + [program] + list(arguments), cwd=directory,
                                       env=self.env, stdin=subprocess.DEVNULL,
                                       capture_output=True, timeout=RUN_TIMEOUT_SECONDS)
            runs.append(Run(directory, completed))
        return runs

    def assert_same_results(self, linux, windows, delivered):
        """The tables and the log files of the two runs agree, and the Windows run left no
        file the Linux run did not (no temporary files)."""
        for name in (delivered,) + INSTALLED_TABLES:
            with self.subTest(table=name):
                self.assertEqual(table_without_date(windows.path(name)),
                                 table_without_date(linux.path(name)))
        for name in LOG_FILES:
            with self.subTest(log=name):
                windows_lines = log_lines(windows.path(name))
                self.assertRegex(windows_lines[0], TIMESTAMP)
                self.assertEqual(windows_lines[1:], log_lines(linux.path(name))[1:])
        linux_names = sorted(os.listdir(linux.dir))
        windows_names = sorted(os.listdir(windows.dir))
        self.assertEqual([n for n in windows_names if n != "Zuvrex5.exe"],
                         [n for n in linux_names if n != "Zuvrex5"])

    def test_merge_of_several_inputs_with_extra_rows_is_the_linux_result(self):
        arguments = list(INPUTS) + ["4"]
        linux, windows = self.run_both(arguments, INPUTS, SETTINGS)
        self.assertEqual(linux.returncode, 0, linux.describe())
        self.assertEqual(windows.returncode, 0, windows.describe())
        self.assertEqual((windows.stdout, windows.stderr), (b"", ""))
        self.assert_same_results(linux, windows, FIRST_INPUT)

        rows = list(dbfread.DBF(windows.path(FIRST_INPUT), encoding="cp1251"))
        self.assertEqual([row["NP"] for row in rows],
                         list(range(1, MERGED_ROWS + 1)) + [99991, 99992, 99999])
        log = log_lines(windows.path("Zuvrex5.LOG"))
        for name in INPUTS:
            self.assertIn(f'Добавляем данные из "{name}"', log)
        self.assertEqual(log[-2:], ["Результат сохранен успешно.", "Сохраняем отчет"])

    def test_read_only_first_input_stays_as_it_was_and_the_log_says_so(self):
        reports = {name: INPUTS[name] for name in (FIRST_INPUT, "REP3.DBF")}
        linux, windows = self.run_both([FIRST_INPUT, "REP3.DBF", "4"], reports,
                                       read_only=[FIRST_INPUT])
        self.assertEqual(linux.returncode, 1, linux.describe())
        self.assertEqual(windows.returncode, 1, windows.describe())
        self.assertEqual(read_bytes(windows.path(FIRST_INPUT)),
                         read_bytes(os.path.join(self.case_dir, "inputs", FIRST_INPUT)))
        self.assert_same_results(linux, windows, FIRST_INPUT)
        self.assertEqual(log_lines(windows.path("Zuvrex5.LOG"))[-2:],
                         ["Результат сохранить не удалось.", "Сохраняем отчет"])
        self.assertEqual(windows.stderr, linux.stderr)
        self.assertIn("read-only", windows.stderr)

    def test_boxes_and_banner_are_those_of_the_linux_build(self):
        one_report = {"A.DBF": INPUTS["REP3.DBF"]}

        def entry_box(arguments):
            # The box shows the raw command line; only its end is the same on both systems.
            return (re.escape(ENTRY_ERROR_CAPTION) + r"\n[^\n]*Zuvrex5(\.exe)?\"? " +
                    re.escape(" ".join(arguments)) + r"\n")

        cases = [
            # name, arguments, exit status, standard output, boxes in order (regular expressions)
            ("no arguments: usage", [], 0, BANNER_BYTES, [re.escape(USAGE_BOX)]),
            ("a question mark: usage", ["A.DBF", "B?.DBF", "4"], 0, BANNER_BYTES,
             [re.escape(USAGE_BOX)]),
            ("period not a number", ["A.DBF", "IV"], 1, b"", [entry_box(["A.DBF", "IV"])]),
            ("second input missing", ["A.DBF", "NONE.DBF", "4"], 1, b"",
             [re.escape(CANNOT_OPEN_INPUT_BOX), entry_box(["A.DBF", "NONE.DBF", "4"])]),
        ]
        for name, arguments, status, stdout, boxes in cases:
            with self.subTest(name):
                linux, windows = self.run_both(arguments, one_report)
                for run in (linux, windows):
                    self.assertEqual(run.returncode, status, run.describe())
                    self.assertEqual(run.stdout, stdout, run.describe())
                    self.assertRegex(run.stderr, "(?s)" + ".*".join(boxes), run.describe())
                    self.assertFalse(any(os.path.exists(run.path(n)) for n in LOG_FILES))
                    self.assertEqual(read_bytes(run.path("A.DBF")),
                                     read_bytes(os.path.join(self.case_dir, "inputs", "A.DBF")))
                if status == 0:
                    self.assertEqual(windows.stderr, linux.stderr)


def main():
    """Runs the tests and ends with one summary line, "N passed, N failed, N skipped"."""
    suite = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    # A test whose subtests fail is listed once per subtest; it counts as one failed test.
    failed = len({getattr(test, "test_case", test).id()
                  for test, _ in result.failures + result.errors})
    failed += len(result.unexpectedSuccesses)
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    print(f"windows: {passed} passed, {failed} failed, {skipped} skipped")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
