"""Hostile values in the columns the merge matches on and sums: TINs, dates and benefit codes
holding quotes, asterisks, filter operators, control characters, Cyrillic letters of either code
page, values at their column's width; amounts at the width limit and sums beyond it. Each case
either merges exactly right or ends with a clear error and leaves the first input as it was.
"""
import unittest

from raw_dbf import REPORT_FIELDS, write_table
from zuvrex_testlib import ENTRY_ERROR_CAPTION, Installation, file_bytes, read_table

COMMON = {"PERIOD": 3, "RIK": 2010, "KOD": "12345678", "TYP": 0, "OZN_DOX": 101}


def widened(name, kind, width, decimals=0):
    """The report layout with one column of another type or width."""
    return tuple((n, kind, width, decimals) if n == name else (n, k, w, d)
                 for n, k, w, d in REPORT_FIELDS)


def r(tin, dox, **other):
    values = {"TIN": tin, "S_DOX": dox}
    values.update(other)
    return values


# name, first input rows, second input rows, options, expected:
#   a list of (TIN, S_DOX) for the delivered ordinary rows, in the tool's TIN order, then the
#   total; or an error: a text that standard error must contain.
# Options: "first"/"second" give an input's encoding ("cp1251" or "cp866") or layout.
MERGED_CASES = [
    ("quote in the TIN", [r("12'45", 10.0)], [r("12'45", 5.0), r("12", 1.0)], {},
     [("12", 1.0), ("12'45", 15.0)]),
    ("quotes that would close the constant", [r("' OR ''='", 1.0)], [r("X", 2.0),
                                                                     r("' OR ''='", 3.0)], {},
     [("' OR ''='", 4.0), ("X", 2.0)]),
    ("asterisk at the end of the TIN", [r("123*", 1.0)], [r("1234", 2.0), r("123*", 3.0)], {},
     [("123*", 4.0), ("1234", 2.0)]),
    ("asterisks alone", [r("*", 1.0), r("**", 2.0)], [r("**", 3.0), r("*", 4.0), r("1", 5.0)],
     {}, [("*", 5.0), ("**", 5.0), ("1", 5.0)]),
    ("filter operators in the TIN", [r("A=B", 1.0), r("(X)", 2.0), r(" OR 1=1", 3.0)],
     [r("(X)", 4.0), r("A=B", 5.0), r(" OR 1=1", 6.0), r("OR 1=1", 7.0)], {},
     [(" OR 1=1", 9.0), ("(X)", 6.0), ("A=B", 6.0), ("OR 1=1", 7.0)]),
    ("leading blanks are part of the TIN", [r(" 123", 1.0)], [r("123", 2.0), r(" 123", 3.0)],
     {}, [(" 123", 4.0), ("123", 2.0)]),
    ("control characters in the TIN", [r("12\x0145", 1.0), r("12\t45", 2.0)],
     [r("12\t45", 3.0), r("12\x0145", 4.0), r("1245", 5.0)], {},
     [("12\x0145", 5.0), ("12\t45", 5.0), ("1245", 5.0)]),
    ("Cyrillic TIN from both code pages", [r("АБ123456", 10.0), r("ЇЄ654321", 1.0)],
     [r("АБ123456", 5.0), r("ЇЄ654321", 2.0), r("аб123456", 3.0)], {"second": "cp866"},
     [("ЇЄ654321", 3.0), ("АБ123456", 15.0), ("аб123456", 3.0)]),
    ("Cyrillic TIN, both inputs in 866", [r("ЯЯЯЯЯЯЯЯЯЯ", 1.0)], [r("ЯЯЯЯЯЯЯЯЯЯ", 2.0)],
     {"first": "cp866", "second": "cp866"}, [("ЯЯЯЯЯЯЯЯЯЯ", 3.0)]),
    ("TIN at the column width", [r("1234567890", 1.0)], [r("1234567890", 2.0),
                                                          r("123456789", 4.0)], {},
     [("123456789", 4.0), ("1234567890", 3.0)]),
    ("wider TIN column holding ten characters", [r("1234567890", 1.0)],
     [r("1234567890", 2.0)], {"second": widened("TIN", "C", 14)}, [("1234567890", 3.0)]),
    ("benefit code with blanks in a text column", [r("1", 1.0, OZN_PILG=3)],
     [r("1", 2.0, OZN_PILG=b" 3")], {"second": widened("OZN_PILG", "C", 2)}, [("1", 3.0)]),
    ("amount at the width limit", [r("1", 999999999.99)], [r("2", -99999999.99)], {},
     [("1", 999999999.99), ("2", -99999999.99)]),
    ("sum just within the width", [r("1", 999999999.98)], [r("1", 0.01)], {},
     [("1", 999999999.99)]),
    ("wider amount column holding a small amount", [r("1", 1.0)], [r("1", 2.5)],
     {"second": widened("S_DOX", "N", 15, 2)}, [("1", 3.5)]),
    ("row numbers and income kind at the width limit", [r("1", 1.0, NP=99990, OZN_DOX=999)],
     [r("1", 2.0, NP=99991, OZN_DOX=999), r("1", 4.0, NP=1, OZN_DOX=999)], {},
     [("1", 5.0)]),
]

FAILED_CASES = [
    ("sum beyond the width of S_DOX", [r("1", 999999999.99)], [r("1", 0.01)], {},
     "does not fit"),
    ("total beyond the width of S_DOX", [r("1", 999999999.99)], [r("2", 999999999.99)], {},
     "does not fit"),
    ("amount wider than the work column", [r("1", 1.0)], [r("2", 1234567890123.45)],
     {"second": widened("S_DOX", "N", 16, 2)}, "does not fit"),
    ("TIN wider than the work column", [r("1", 1.0)], [r("ABCDEFGHIJKL", 1.0)],
     {"second": widened("TIN", "C", 12)}, "longer than the column"),
    ("866 letter that 1251 lacks", [r("1", 1.0)], [r("А√1", 1.0)], {"second": "cp866"},
     "cannot be written in Windows-1251"),
    ("TIN byte that Windows-1251 leaves unassigned", [r("1", 1.0)], [r(b"12\x9845", 1.0)], {},
     "cannot be stored in the table's code page"),
    ("damaged amount", [r("1", 1.0)], [r("1", b"   12abc    ")], {}, "is not a number"),
    ("damaged amount in a new row", [r("1", 1.0)], [r("2", b"   *1.5     ")], {},
     "is not a number"),
    ("impossible hire date", [r("1", 1.0)], [r("1", 1.0, D_PRIYN=b"20101301")], {},
     "is not a date"),
    ("quote in a dismissal date", [r("1", 1.0)], [r("1", 1.0, D_ZVILN=b"2010'1'1")], {},
     "is not a date"),
    ("quote in a numeric benefit code", [r("1", 1.0)], [r("1", 1.0, OZN_PILG=b"1'")], {},
     "is not a number"),
    ("operators in a text benefit code", [r("1", 1.0)], [r("1", 1.0, OZN_PILG="A'")],
     {"second": widened("OZN_PILG", "C", 2)}, "OZN_PILG"),
]


class HostileValuesTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()
        self.addCleanup(self.inst.cleanup)

    def write_inputs(self, first, second, options):
        paths = []
        for name, rows in (("A.DBF", first), ("B.DBF", second)):
            option = options.get("first" if name == "A.DBF" else "second")
            encoding = option if isinstance(option, str) else "cp1251"
            fields = option if isinstance(option, tuple) else REPORT_FIELDS
            numbered = [dict({"NP": n}, **row) for n, row in enumerate(rows, 1)]
            paths.append(write_table(self.inst.path(name), numbered, fields, encoding, COMMON))
        return paths

    def test_values_that_merge(self):
        for name, first, second, options, expected in MERGED_CASES:
            with self.subTest(name):
                self.setUp()
                self.write_inputs(first, second, options)
                result = self.inst.run("A.DBF", "B.DBF", "4")
                self.assertEqual(result.returncode, 0, result.describe())
                records = read_table(self.inst.path("A.DBF"))
                self.assertEqual([(row["TIN"], row["S_DOX"]) for row in records[:-1]], expected)
                self.assertEqual([row["NP"] for row in records[:-1]],
                                 list(range(1, len(expected) + 1)))
                total = records[-1]
                self.assertEqual((total["NP"], total["TIN"]), (99999, "XXXXXXXXXX"))
                self.assertAlmostEqual(total["S_DOX"], sum(dox for _, dox in expected), places=2)

    def test_values_that_end_the_run(self):
        for name, first, second, options, reason in FAILED_CASES:
            with self.subTest(name):
                self.setUp()
                first_path, _ = self.write_inputs(first, second, options)
                before = file_bytes(first_path)
                result = self.inst.run("A.DBF", "B.DBF", "4")
                self.assertEqual(result.returncode, 1, result.describe())
                self.assertIn(ENTRY_ERROR_CAPTION, result.stderr)
                self.assertIn(reason, result.stderr)
                self.assertEqual(file_bytes(first_path), before)
                self.assertEqual(self.inst.log_names(), [])


if __name__ == "__main__":
    unittest.main()
