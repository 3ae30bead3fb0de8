#!/usr/bin/python3
"""Writes the sample 1DF reports of examples/ with the independent `dbf` library.

Two branches of one employer report the same quarter: some people appear in both files (their
rows are added together by the merge), one row of REPORT.DBF is the total row of an earlier
merge (it is skipped), and one person has income kind 22 with a benefit code.
Run with Debian's interpreter: /usr/bin/python3 examples/make_examples.py
"""
import datetime
import os

import dbf

LAYOUT = ("NP N(5,0); PERIOD N(1,0); RIK N(4,0); KOD C(10); TYP N(1,0); TIN C(10); "
          "S_NAR N(12,2); S_DOX N(12,2); S_TAXN N(12,2); S_TAXP N(12,2); OZN_DOX N(3,0); "
          "D_PRIYN D; D_ZVILN D; OZN_PILG N(2,0); OZNAKA N(1,0)")

D = datetime.date
# NP, TIN, S_NAR, S_DOX, S_TAXN, S_TAXP, OZN_DOX, D_PRIYN, D_ZVILN, OZN_PILG
REPORT = [
    (1, "2345678901", 15000.00, 15000.00, 2250.00, 2250.00, 101, D(2009, 2, 1), None, None),
    (2, "1234567890", 9000.50, 9000.50, 1350.08, 1350.08, 1, None, None, None),
    (3, "3456789012", 4200.00, 4200.00, 630.00, 630.00, 101, None, None, 1),
    (4, "4567890123", 1800.00, 1800.00, 0.00, 0.00, 22, None, None, 3),
    (99999, "XXXXXXXXXX", 30000.50, 30000.50, 4230.08, 4230.08, None, None, None, None),
]
REP_DB01 = [
    (1, "1234567890", 3000.25, 3000.25, 450.04, 450.04, 2, None, None, None),
    (2, "2345678901", 5000.00, 5000.00, 750.00, 750.00, 101, D(2009, 2, 1), D(2010, 3, 15), None),
    (3, "5678901234", 7300.00, 7300.00, 1095.00, 1095.00, 102, None, None, None),
    (4, "3456789012", 800.00, 800.00, 120.00, 120.00, 101, None, None, 1),
]


def write(path, rows):
    if os.path.exists(path):
        os.remove(path)
    table = dbf.Table(path, LAYOUT, dbf_type="db3", codepage="cp1251")
    table.open(dbf.READ_WRITE)
    for np, tin, nar, dox, taxn, taxp, kind, hired, dismissed, benefit in rows:
        table.append({k.lower(): v for k, v in {
            "NP": np, "PERIOD": 3, "RIK": 2010, "KOD": "12345678", "TYP": 0, "TIN": tin,
            "S_NAR": nar, "S_DOX": dox, "S_TAXN": taxn, "S_TAXP": taxp, "OZN_DOX": kind,
            "D_PRIYN": hired, "D_ZVILN": dismissed, "OZN_PILG": benefit, "OZNAKA": None,
        }.items()})
    table.close()


here = os.path.dirname(os.path.abspath(__file__))
write(os.path.join(here, "REPORT.DBF"), REPORT)
write(os.path.join(here, "REP_DB01.DBF"), REP_DB01)
