"""Helpers for the end-to-end tests: a private installation of the tool in a temporary
directory, running it as a user would, writing input reports with the `dbf` package, and reading
results with `dbfread` and the log files as Windows-1251 text with CR LF line ends.

The tool is taken from the directory named by ZUVREX_BIN_DIR (CTest sets it), else from
build/bin of the repository.
"""
import datetime
import os
import re
import shutil
import subprocess
import tempfile

import dbf
import dbfread

HERE = os.path.dirname(os.path.abspath(__file__))
BIN_DIR = os.environ.get("ZUVREX_BIN_DIR") or os.path.join(HERE, "..", "..", "build", "bin")
EXECUTABLE = "Zuvrex5"
INSTALLED_TABLES = ("template.dbf", "sorted.DBF")
RUN_TIMEOUT_SECONDS = 60

# The installed report layout; input reports are written with it unless a test needs another.
REPORT_LAYOUT = ("NP N(5,0); PERIOD N(1,0); RIK N(4,0); KOD C(10); TYP N(1,0); TIN C(10); "
                 "S_NAR N(12,2); S_DOX N(12,2); S_TAXN N(12,2); S_TAXP N(12,2); "
                 "OZN_DOX N(3,0); D_PRIYN D; D_ZVILN D; OZN_PILG N(2,0); OZNAKA N(1,0)")

# Texts the tool shows or logs.
BANNER_BYTES = b"Zuvr for 1DF reports. V1.23\r\r\n"
USAGE_CAPTION = "Сшиватель отчетов по форме 1ДФ (1.23)"
USAGE_TEXT = ("Формат вызова: Zuvrex5.EXE <первый файл> <второй файл> <№ периода>\n\r"
              "Например: Zuvrex5.EXE REPORT.DBF REP_DB01.DBF 4")
ENTRY_ERROR_CAPTION = "Ошибка обработки командной строки."
ERROR_CAPTION = "Ошибка"
CANNOT_OPEN_SORTED = "Не могу открыть SORTED.DBF"
CANNOT_OPEN_INPUT = "Не могу открыть входной файл."
LOG_FILE = "Zuvrex5.LOG"
BEL = "\a"

TIMESTAMP = re.compile(r"^(\d\d)\.(\d\d)\.(\d{4})  (\d\d):(\d\d):(\d\d)$")


def row(np, tin, nar=0.0, dox=0.0, taxn=0.0, taxp=0.0, kind=None, hired=None,
        dismissed=None, benefit=None, **other):
    """One report row as a dict of upper-case column names; columns not given stay blank."""
    values = {"NP": np, "TIN": tin, "S_NAR": nar, "S_DOX": dox, "S_TAXN": taxn,
              "S_TAXP": taxp, "OZN_DOX": kind, "D_PRIYN": hired, "D_ZVILN": dismissed,
              "OZN_PILG": benefit}
    values.update(other)
    return values


def write_report(path, rows, layout=REPORT_LAYOUT, common=None):
    """Writes a dBASE III report in Windows-1251. `common` holds values every row shares
    (by default RIK 2010, KOD "12345678", TYP 0, PERIOD 3, where the layout has them)."""
    if os.path.exists(path):
        os.remove(path)
    table = dbf.Table(path, layout, dbf_type="db3", codepage="cp1251")
    names = {name.upper() for name in table.field_names}
    shared = {"RIK": 2010, "KOD": "12345678", "TYP": 0, "PERIOD": 3}
    shared.update(common or {})
    table.open(dbf.READ_WRITE)
    try:
        for values in rows:
            record = {k: v for k, v in shared.items() if k in names}
            record.update(values)
            # The dbf package names its fields in lower case.
            table.append({k.lower(): v for k, v in record.items() if k in names})
    finally:
        table.close()
    return path


def read_table(path):
    """The records of a table as dicts (dbfread, Windows-1251), deleted ones left out."""
    table = dbfread.DBF(path, encoding="cp1251", char_decode_errors="strict")
    return [dict(record) for record in table]


def read_log(path):
    """The lines of a log file. Raises AssertionError unless every line ends in CR LF and the
    text is Windows-1251."""
    with open(path, "rb") as handle:
        data = handle.read()
    if not data.endswith(b"\r\n"):
        raise AssertionError(f"{path}: does not end in CR LF")
    body = data[:-2].split(b"\r\n")
    for line in body:
        if b"\r" in line or b"\n" in line:
            raise AssertionError(f"{path}: a line end other than CR LF in {line!r}")
    return [line.decode("cp1251") for line in body]


def file_bytes(path):
    with open(path, "rb") as handle:
        return handle.read()


def parse_timestamp(line):
    """The date and time of a log's first line, or None when it has another form."""
    match = TIMESTAMP.match(line)
    if not match:
        return None
    day, month, year, hour, minute, second = (int(part) for part in match.groups())
    return datetime.datetime(year, month, day, hour, minute, second)


class Result:
    def __init__(self, argv, completed, started, finished):
        self.argv = argv
        self.returncode = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr.decode("utf-8")
        self.started = started
        self.finished = finished

    @property
    def command_line(self):
        """What the entry's error box shows: the arguments joined by blanks."""
        return " ".join(f'"{a}"' if (not a or " " in a or "\t" in a) else a for a in self.argv)

    def stderr_lines(self):
        """Standard error split at line feeds (the box of the usage keeps its CR)."""
        text = self.stderr
        assert text == "" or text.endswith("\n"), repr(text)
        return text[:-1].split("\n") if text else []

    def describe(self):
        return (f"argv={self.argv!r} exit={self.returncode} stdout={self.stdout!r}\n"
                f"stderr:\n{self.stderr}")


class Installation:
    """A fresh temporary directory holding a copy of the tool and its installed tables."""

    def __init__(self, directory_name="install"):
        self.root = tempfile.mkdtemp(prefix="zuvrex_e2e_")
        self.dir = os.path.join(self.root, directory_name)
        os.makedirs(self.dir)
        for name in (EXECUTABLE,) + INSTALLED_TABLES:
            shutil.copy2(os.path.join(BIN_DIR, name), os.path.join(self.dir, name))
        self.exe = os.path.join(self.dir, EXECUTABLE)

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def subdir(self, *parts):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def write_ini(self, text):
        with open(self.path("Zuvrex5.INI"), "wb") as handle:
            handle.write(text.replace("\n", "\r\n").encode("cp1251"))

    def names(self, directory=None):
        """The sorted names in the installation directory (or another one)."""
        return sorted(os.listdir(directory or self.dir))

    def snapshot(self):
        """Every file under the installation directory (subdirectories included) with its
        bytes, by path relative to the directory."""
        files = {}
        for top, _, names in os.walk(self.dir):
            for name in names:
                path = os.path.join(top, name)
                files[os.path.relpath(path, self.dir)] = file_bytes(path)
        return files

    def log_names(self):
        return [n for n in self.names() if n == LOG_FILE or re.fullmatch(r"ZuvrLOG\d*\.TXT", n)]

    def run(self, *arguments, cwd=None, program=None):
        """Runs the tool with `arguments` from `cwd` (the installation directory by default)."""
        argv = [program or self.exe] + [str(a) for a in arguments]
        started = datetime.datetime.now().replace(microsecond=0)
        completed = subprocess.run(argv, cwd=cwd or self.dir, stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=RUN_TIMEOUT_SECONDS)
        finished = datetime.datetime.now()
        return Result(argv, completed, started, finished)
