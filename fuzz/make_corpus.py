#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds are small real inputs the fuzzers start from: report tables written by the independent
`dbf` package in each dBASE flavour it knows (dBASE III, Clipper, Visual FoxPro), in
both Cyrillic code pages, with every column type; the sample reports of examples/; the filter
texts the merge builds; settings files; integer texts. Run with Debian's interpreter:
/usr/bin/python3 fuzz/make_corpus.py
"""
import datetime
import os
import shutil
import tempfile

import dbf

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CORPUS = os.path.join(HERE, "corpus")

REPORT_LAYOUT = ("NP N(5,0); PERIOD N(1,0); RIK N(4,0); KOD C(10); TYP N(1,0); TIN C(10); "
                 "S_NAR N(12,2); S_DOX N(12,2); S_TAXN N(12,2); S_TAXP N(12,2); "
                 "OZN_DOX N(3,0); D_PRIYN D; D_ZVILN D; OZN_PILG N(2,0); OZNAKA N(1,0)")
D = datetime.date
REPORT_ROWS = [
    dict(np=1, period=3, rik=2010, kod="12345678", typ=0, tin="1234567890", s_nar=9000.5,
         s_dox=9000.5, s_taxn=1350.08, s_taxp=1350.08, ozn_dox=1, d_priyn=D(2009, 2, 1)),
    dict(np=2, tin="АБ123456", s_dox=-0.01, ozn_dox=22, ozn_pilg=3, d_zviln=D(2010, 3, 15)),
    dict(np=99999, tin="XXXXXXXXXX", s_nar=999999999.99, s_dox=0, ozn_dox=101),
]


def write_table(path, layout, rows, dbf_type, codepage):
    table = dbf.Table(path, layout, dbf_type=dbf_type, codepage=codepage)
    table.open(dbf.READ_WRITE)
    try:
        for values in rows:
            table.append(values)
        if len(table) > 1:
            dbf.delete(table[1])  # a deleted record, as real files have
    finally:
        table.close()


def dbf_seeds(out):
    for name in ("REPORT.DBF", "REP_DB01.DBF"):
        shutil.copy(os.path.join(ROOT, "examples", name), os.path.join(out, name.lower()))
    scratch = tempfile.mkdtemp()
    try:
        for dbf_type, codepage in (("db3", "cp1251"), ("db3", "cp866"), ("clp", "cp866"),
                                   ("vfp", "cp1251"), ("vfp", "cp866")):
            path = os.path.join(scratch, f"report_{dbf_type}_{codepage}.dbf")
            write_table(path, REPORT_LAYOUT, REPORT_ROWS, dbf_type, codepage)
            shutil.copy(path, os.path.join(out, os.path.basename(path)))
        # Every column type the reader knows, plus one it reads as raw text.
        types = [("db3", "NAME C(20); COUNT N(19,0); RATE F(10,4); DAY D; FLAG L")]
        types.append(("vfp", "NAME C(20); COUNT N(19,0); RATE F(10,4); DAY D; FLAG L; "
                             "AMOUNT Y; STAMP T; RATIO B; SIZE I"))
        for dbf_type, layout in types:
            path = os.path.join(scratch, f"types_{dbf_type}.dbf")
            table = dbf.Table(path, layout, dbf_type=dbf_type, codepage="cp1251")
            table.open(dbf.READ_WRITE)
            try:
                table.append(dict(name="Ї'\"*= OR (x)", count=-123456789012345678, rate=1.5,
                                  day=D(2000, 2, 29), flag=True))
                table.append(dict(name="", flag=None))
            finally:
                table.close()
            shutil.copy(path, os.path.join(out, os.path.basename(path)))
    finally:
        shutil.rmtree(scratch)


FILTERS = [
    "TIN='1234567890' and OZN_PILG IS NULL AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
    "(OZN_DOX=1 OR OZN_DOX=2)",
    "TIN='0123456789' and OZN_PILG=1 AND D_PRIYN='01.02.2009' AND ((D_ZVILN IS NULL) OR "
    "(D_ZVILN='15.03.2010')) AND (OZN_DOX=101)",
    "TIN='O''Brien**' and OZN_PILG='1a' AND D_PRIYN IS NULL  AND  (D_ZVILN IS NULL)  AND "
    "(OZN_DOX=22)",
    "TIN='АБ*' OR (CHECKED=T AND RATE=-0.125) OR S_DOX=1500.50 OR KOD=bare",
    "((((NP=1))))",
]

INIS = [
    open(os.path.join(ROOT, "examples", "Zuvrex5.INI"), "rb").read(),
    b"\xef\xbb\xbf[MAIN]\r\naddcount = $2\r\n[Add1]\r\nNP=0x1869F\r\nTIN=\"  \xc0\xc1 \"\r\n"
    b"S_DOX=120.50\r\n[Add2]\r\n; comment\r\n# other\r\n[Add1]\r\nNP=1\r\n",
    b"[main]\nAddCount=-2147483648\n[Add1\nNP\n=5\nS_DOX= 9 ; note\n",
]

INTEGERS = [b"4", b"04", b"  -2147483648", b"2147483647", b"$10", b"x7fffffff", b"0XFFFFFFFF",
            b"+12", b"IV", b"0x", b"\t 9 "]


def write_seeds(target, seeds):
    out = os.path.join(CORPUS, target)
    os.makedirs(out, exist_ok=True)
    for number, data in enumerate(seeds, 1):
        with open(os.path.join(out, f"seed_{number:02d}"), "wb") as handle:
            handle.write(data)


def main():
    out = os.path.join(CORPUS, "dbf")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    dbf_seeds(out)
    # The first byte of a filter input picks the code page: even for 1251, odd for 866.
    write_seeds("filter", [b"\x00" + text.encode("utf-8") for text in FILTERS] +
                [b"\x01" + FILTERS[3].encode("utf-8")])
    write_seeds("ini", INIS)
    write_seeds("int", INTEGERS)


if __name__ == "__main__":
    main()
