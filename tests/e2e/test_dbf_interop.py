"""Our DBF reading and writing against independent libraries.

(a) Tables that Python's `dbf` package writes (dBASE III, FoxPro, Visual FoxPro; code pages 866
    and 1251; deleted records, blank values, Cyrillic text) read the same through our `dbfdump
    --csv` as through `dbfread`.
(b) Tables that our Table API writes (the test-only program write_sample_table) read back the
    same through `dbfread`, `dbf` and GDAL's `ogrinfo`, and their headers follow the rules other
    programs rely on.

CTest sets ZUVREX_BIN_DIR (dbfdump) and ZUVREX_TEST_BIN_DIR (write_sample_table); run by hand,
the default build directory is used.
"""
import csv
import datetime
import io
import os
import re
import subprocess
import tempfile
import unittest

import dbf
import dbfread

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD_DIR = os.path.join(HERE, "..", "..", "build")
BIN_DIR = os.environ.get("ZUVREX_BIN_DIR") or os.path.join(BUILD_DIR, "bin")
TEST_BIN_DIR = os.environ.get("ZUVREX_TEST_BIN_DIR") or os.path.join(BUILD_DIR, "tests")
DBFDUMP = os.path.join(BIN_DIR, "dbfdump")
WRITER = os.path.join(TEST_BIN_DIR, "write_sample_table")
TIMEOUT_SECONDS = 60

# The languages-driver bytes we write, and the encodings they stand for.
CODE_PAGE_BYTES = {"report_1251.dbf": (0xC9, "cp1251"), "report_866.dbf": (0x65, "cp866")}


def run(args):
    """Runs a program and returns its standard output as text; fails on a non-zero exit."""
    done = subprocess.run(args, capture_output=True, timeout=TIMEOUT_SECONDS, check=False)
    if done.returncode != 0:
        raise AssertionError("%s exited %d: %s" % (args, done.returncode,
                                                    done.stderr.decode("utf-8", "replace")))
    return done.stdout.decode("utf-8")


def dump_csv(path):
    """Our reading of a table: (column names, live rows, deleted rows), cells as dbfdump shows
    them."""
    rows = list(csv.reader(io.StringIO(run([DBFDUMP, "--csv", path]), newline="")))
    header, records = rows[0], rows[1:]
    assert header[0] == "DEL", header
    live = [r[1:] for r in records if r[0] == ""]
    deleted = [r[1:] for r in records if r[0] == "*"]
    return header[1:], live, deleted


def cell_text(field, value):
    """A value read by dbfread, in dbfdump's form: integers plain, other numbers with the
    column's decimals, dates dd.mm.yyyy, logicals T/F, blanks empty."""
    if value is None or value == "":
        return ""
    if field.type in "NF":
        if field.decimal_count == 0 and float(value) == int(value):
            return str(int(value))
        return "%.*f" % (field.decimal_count, value)
    if field.type == "D":
        return value.strftime("%d.%m.%Y")
    if field.type == "L":
        return "T" if value else "F"
    return value


def dbfread_csv(path, encoding):
    """dbfread's reading of a table in the same shape as dump_csv, memo columns left out."""
    table = dbfread.DBF(path, encoding=encoding, char_decode_errors="strict")
    fields = [f for f in table.fields if f.type != "M"]

    def rows(records):
        return [[cell_text(f, record[f.name]) for f in fields] for record in records]

    return [f.name for f in fields], rows(table), rows(table.deleted)


def without_memo_columns(path, dumped):
    """Drops the memo columns from dbfdump's reading: we do not read memo files."""
    names, live, deleted = dumped
    memo = {f.name for f in dbfread.DBF(path).fields if f.type == "M"}
    keep = [i for i, name in enumerate(names) if name not in memo]

    def pick(rows):
        return [[row[i] for i in keep] for row in rows]

    return [names[i] for i in keep], pick(live), pick(deleted)


class TablesOfOtherWriters(unittest.TestCase):
    """(a) What `dbf` writes, we read as dbfread does."""

    LAYOUT = "TIN C(10); NP N(5,0); S_DOX N(12,2); D_PRIYN D; OK L"
    ROWS = [
        ("КА123456", 1, 1500.5, datetime.date(2024, 1, 31), True),
        ("ёЁжЖ є", -2, -0.5, None, False),
        (),  # blank everywhere
        ("DELETED", 3, 1, datetime.date(2000, 2, 29), None),
        ("9999999999", 99999, -9999999.99, datetime.date(1999, 12, 31), True),
        ("жЖ", 0, 0, None, None),
    ]
    DELETED = (3, 5)

    def write(self, directory, dbf_type, codepage):
        layout = self.LAYOUT
        if dbf_type == "fp":
            # dbf writes version byte 0 for a FoxPro table without memo (and then cannot open
            # it itself); with a memo column it writes a proper FoxPro 2 table (0xF5).
            layout += "; NOTE M"
        path = os.path.join(directory, "%s_%s.dbf" % (dbf_type, codepage))
        table = dbf.Table(path, layout, dbf_type=dbf_type, codepage=codepage)
        with table:
            for values in self.ROWS:
                table.append(values)
            for number in self.DELETED:
                dbf.delete(table[number])
        return path

    def test_tables_read_as_dbfread_reads_them(self):
        for dbf_type in ("db3", "fp", "vfp"):
            for codepage in ("cp866", "cp1251"):
                with self.subTest(dbf_type=dbf_type, codepage=codepage), \
                        tempfile.TemporaryDirectory() as directory:
                    path = self.write(directory, dbf_type, codepage)
                    ours = without_memo_columns(path, dump_csv(path))
                    theirs = dbfread_csv(path, codepage)
                    self.assertEqual(ours, theirs)
                    names, live, deleted = ours
                    self.assertEqual(names, ["TIN", "NP", "S_DOX", "D_PRIYN", "OK"])
                    self.assertEqual(len(live), len(self.ROWS) - len(self.DELETED))
                    self.assertEqual(len(deleted), len(self.DELETED))
                    self.assertEqual(live[0], ["КА123456", "1", "1500.50", "31.01.2024", "T"])
                    self.assertEqual(live[1], ["ёЁжЖ є", "-2", "-0.50", "", "F"])
                    self.assertEqual(live[2], ["", "", "", "", ""])
                    self.assertEqual(deleted[0], ["DELETED", "3", "1.00", "29.02.2000", ""])


# What write_sample_table puts into each of its tables (dbfread's values; blank is None).
EXPECTED_ROWS = [
    {"NP": 1, "PERIOD": 1, "RIK": 2024, "KOD": "12345678", "TYP": 0, "TIN": "КА123456",
     "S_NAR": 1500.5, "S_DOX": 1500.5, "S_TAXN": 270.09, "S_TAXP": 270.09, "OZN_DOX": 101,
     "D_PRIYN": datetime.date(2024, 2, 1), "D_ZVILN": None, "OZN_PILG": None, "OZNAKA": 0},
    {"NP": 99990, "PERIOD": 4, "RIK": 9999, "KOD": "ABCDEFGHIJ", "TYP": 9, "TIN": "9999999999",
     "S_NAR": 999999999.99, "S_DOX": -99999999.99, "S_TAXN": -0.01, "S_TAXP": 0.0,
     "OZN_DOX": 999, "D_PRIYN": datetime.date(2024, 2, 29), "D_ZVILN": datetime.date(2099, 12, 31),
     "OZN_PILG": 99, "OZNAKA": 9},
    {"NP": 3, "PERIOD": None, "RIK": None, "KOD": None, "TYP": None, "TIN": None,
     "S_NAR": None, "S_DOX": None, "S_TAXN": None, "S_TAXP": None, "OZN_DOX": None,
     "D_PRIYN": None, "D_ZVILN": None, "OZN_PILG": None, "OZNAKA": None},
    {"NP": 4, "PERIOD": None, "RIK": None, "KOD": None, "TYP": None, "TIN": "жёЖЁ000001",
     "S_NAR": None, "S_DOX": -1234.5, "S_TAXN": None, "S_TAXP": None, "OZN_DOX": None,
     "D_PRIYN": None, "D_ZVILN": datetime.date(2010, 3, 15), "OZN_PILG": None, "OZNAKA": None},
]
REPORT_WIDTHS = [("NP", 5), ("PERIOD", 1), ("RIK", 4), ("KOD", 10), ("TYP", 1), ("TIN", 10),
                 ("S_NAR", 12), ("S_DOX", 12), ("S_TAXN", 12), ("S_TAXP", 12), ("OZN_DOX", 3),
                 ("D_PRIYN", 8), ("D_ZVILN", 8), ("OZN_PILG", 2), ("OZNAKA", 1)]


def normalized(row):
    """A row with blank texts as None, so that readers that give "" or None for a blank text
    compare equal."""
    return {name: (None if value == "" else value) for name, value in row.items()}


OGR_LINE = re.compile(r"^  (\w+) \((\w+)\) = (.*)$")


def ogrinfo_rows(path):
    """The records as GDAL reads them: a dict per feature, values typed after GDAL's field
    types; fields it leaves out or shows as (null) are None."""
    text = run(["ogrinfo", "-ro", "-al", "-q", "-geom=NO", path])
    rows = []
    for line in text.splitlines():
        if line.startswith("OGRFeature("):
            rows.append({name: None for name, _ in REPORT_WIDTHS})
            continue
        match = OGR_LINE.match(line)
        if not match or not rows:
            continue
        name, kind, value = match.groups()
        if value == "(null)" or value == "":
            converted = None
        elif kind == "Integer":
            converted = int(value)
        elif kind == "Real":
            converted = float(value)
        elif kind == "Date":
            converted = datetime.datetime.strptime(value, "%Y/%m/%d").date()
        else:
            converted = value
        rows[-1][name] = converted
    return rows


class TablesWeWrite(unittest.TestCase):
    """(b) What our Table API writes, other programs read back as written."""

    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.TemporaryDirectory()
        cls.before = datetime.date.today()
        run([WRITER, cls.directory.name])
        cls.after = datetime.date.today()

    @classmethod
    def tearDownClass(cls):
        cls.directory.cleanup()

    def path(self, name):
        return os.path.join(self.directory.name, name)

    def test_dbfread_reads_the_values(self):
        for name in CODE_PAGE_BYTES:
            with self.subTest(name=name):
                # No encoding given: dbfread takes it from the code page byte, as other
                # programs do.
                rows = [normalized(dict(r)) for r in dbfread.DBF(self.path(name))]
                self.assertEqual(rows, EXPECTED_ROWS)

    def test_dbf_reads_the_values(self):
        for name in CODE_PAGE_BYTES:
            with self.subTest(name=name), dbf.Table(self.path(name)) as table:
                self.assertEqual(table.codepage.name, CODE_PAGE_BYTES[name][1])
                rows = []
                for record in table:
                    values = {}
                    for field in table.field_names:
                        value = record[field]
                        if isinstance(value, str):
                            value = value.rstrip()
                        values[field.upper()] = value
                    rows.append(normalized(values))
                self.assertEqual(rows, EXPECTED_ROWS)

    def test_ogrinfo_reads_the_values(self):
        for name in CODE_PAGE_BYTES:
            with self.subTest(name=name):
                self.assertEqual(ogrinfo_rows(self.path(name)), EXPECTED_ROWS)

    def test_dbfdump_agrees_with_dbfread(self):
        for name, (_, encoding) in CODE_PAGE_BYTES.items():
            with self.subTest(name=name):
                path = self.path(name)
                self.assertEqual(dump_csv(path), dbfread_csv(path, encoding))

    def test_headers_follow_the_writer_rules(self):
        record_length = 1 + sum(width for _, width in REPORT_WIDTHS)
        header_length = 32 + 32 * len(REPORT_WIDTHS) + 1
        for name, (code_page_byte, _) in CODE_PAGE_BYTES.items():
            with self.subTest(name=name):
                with open(self.path(name), "rb") as handle:
                    data = handle.read()
                count = len(EXPECTED_ROWS)
                self.assertEqual(data[0], 0x03)
                written = datetime.date(1900 + data[1], data[2], data[3])
                self.assertIn(written, (self.before, self.after))
                self.assertEqual(int.from_bytes(data[4:8], "little"), count)
                self.assertEqual(int.from_bytes(data[8:10], "little"), header_length)
                self.assertEqual(int.from_bytes(data[10:12], "little"), record_length)
                self.assertEqual(data[29], code_page_byte)
                self.assertEqual(data[12:29], bytes(17))
                self.assertEqual(data[30:32], bytes(2))
                self.assertEqual(data[header_length - 1], 0x0D)
                self.assertEqual(len(data), header_length + count * record_length + 1)
                self.assertEqual(data[-1], 0x1A)
                descriptors = [data[32 + 32 * i:64 + 32 * i] for i in range(len(REPORT_WIDTHS))]
                for descriptor, (column, width) in zip(descriptors, REPORT_WIDTHS):
                    self.assertEqual(descriptor[:11], column.encode("ascii").ljust(11, b"\0"))
                    self.assertEqual(descriptor[16], width)
                    self.assertEqual(descriptor[18:], bytes(14))


if __name__ == "__main__":
    unittest.main()
