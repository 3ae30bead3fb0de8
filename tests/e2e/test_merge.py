"""End-to-end tests of Zuvrex5: each test installs the built tool with its tables into a fresh
temporary directory, writes input reports there (and in a subdirectory), runs the tool as a
user would, and checks the delivered table (read back with dbfread), both log files, standard
output, standard error and the exit status.
"""
import contextlib
import datetime
import fcntl
import os
import stat
import unittest

from zuvrex_testlib import (BANNER_BYTES, BEL, CANNOT_OPEN_INPUT, CANNOT_OPEN_SORTED,
                            ENTRY_ERROR_CAPTION, ERROR_CAPTION, LOG_FILE, REPORT_LAYOUT,
                            USAGE_CAPTION, USAGE_TEXT, Installation, file_bytes, parse_timestamp,
                            read_log, read_table, row, write_report)

D = datetime.date
COLUMNS = ("NP", "PERIOD", "RIK", "KOD", "TYP", "TIN", "S_NAR", "S_DOX", "S_TAXN", "S_TAXP",
           "OZN_DOX", "D_PRIYN", "D_ZVILN", "OZN_PILG", "OZNAKA")
LAYOUT_WITHOUT_S_DOX = (
    "NP N(5,0); PERIOD N(1,0); RIK N(4,0); KOD C(10); TYP N(1,0); TIN C(10); S_NAR N(12,2); "
    "S_TAXN N(12,2); S_TAXP N(12,2); OZN_DOX N(3,0); D_PRIYN D; D_ZVILN D; OZN_PILG N(2,0); "
    "NOTE C(8)")
LAYOUT_WITHOUT_TIN = "NP N(5,0); S_NAR N(12,2); S_DOX N(12,2); OZN_DOX N(3,0)"
LAYOUT_WITHOUT_NP = "TIN C(10); S_NAR N(12,2); S_DOX N(12,2); OZN_DOX N(3,0)"


def result_row(np, tin, period, nar=None, dox=None, taxn=None, taxp=None, kind=None,
               hired=None, dismissed=None, benefit=None, rik=2010, kod="12345678", typ=0):
    """A delivered row as dbfread gives it: every column; blank numbers and dates are None,
    blank text is ''."""
    values = dict.fromkeys(COLUMNS)
    values.update({"NP": np, "PERIOD": period, "RIK": rik, "KOD": kod, "TYP": typ, "TIN": tin,
                   "S_NAR": nar, "S_DOX": dox, "S_TAXN": taxn, "S_TAXP": taxp,
                   "OZN_DOX": kind, "D_PRIYN": hired, "D_ZVILN": dismissed,
                   "OZN_PILG": benefit})
    return values


def same(amount, **columns):
    """A row whose four money columns all hold `amount`."""
    return row(nar=amount, dox=amount, taxn=amount, taxp=amount, **columns)


def same_result(np, tin, period, amount, **columns):
    return result_row(np, tin, period, nar=amount, dox=amount, taxn=amount, taxp=amount,
                      **columns)


def total_row(period, nar, dox, taxn, taxp, rik=2010, kod="12345678", typ=0):
    return result_row(99999, "XXXXXXXXXX", period, nar=round(nar, 2), dox=round(dox, 2),
                      taxn=round(taxn, 2), taxp=round(taxp, 2), rik=rik, kod=kod, typ=typ)


def extra_row(np, tin, period, dox, rik=2010, kod="12345678", typ=0):
    return result_row(np, tin, period, nar=0.0, dox=float(dox), taxn=0.0, taxp=0.0, rik=rik,
                      kod=kod, typ=typ)


def contains(text):
    """A line of standard error that must hold `text`."""
    return ("contains", text)


class ToolTestCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.inst = Installation()
        self.addCleanup(self.inst.cleanup)
        os.makedirs(self.inst.path("sub"))

    def report(self, name, rows, **kwargs):
        return write_report(self.inst.path(name), rows, **kwargs)

    def assertDelivered(self, result):
        self.assertEqual(result.returncode, 0, result.describe())
        self.assertEqual(result.stdout, b"", result.describe())

    def assertLogs(self, result, expected_after_timestamp, numbered="ZuvrLOG.TXT"):
        """Both log files of the run hold the time stamp line and then exactly these lines."""
        lines = read_log(self.inst.path(LOG_FILE))
        stamp = parse_timestamp(lines[0])
        self.assertIsNotNone(stamp, f"first log line {lines[0]!r}")
        self.assertTrue(result.started <= stamp <= result.finished,
                        f"{stamp} not within {result.started}..{result.finished}")
        self.assertEqual(lines[1:], expected_after_timestamp)
        self.assertEqual(file_bytes(self.inst.path(numbered)),
                         file_bytes(self.inst.path(LOG_FILE)))
        return lines

    def assertStderrLines(self, result, expected):
        """Standard error, line by line: a str must be the whole line, a tuple ("contains", s)
        must occur in it."""
        lines = result.stderr_lines()
        self.assertEqual(len(lines), len(expected), result.describe())
        for line, want in zip(lines, expected):
            if isinstance(want, tuple):
                self.assertIn(want[1], line, result.describe())
            else:
                self.assertEqual(line, want, result.describe())


class UsageTest(ToolTestCase):
    def test_usage_prints_banner_and_box_and_touches_nothing(self):
        self.report("A.DBF", [same(1.0, np=1, tin="1000000001", kind=1)])
        cases = [
            [],
            ["A.DBF"],
            ["?"],
            ["A.DBF", "4", "?"],
            ["A.DBF", "sub/B?.DBF", "4"],
            ["A.DBF", "4?"],
        ]
        files = self.inst.snapshot()
        for arguments in cases:
            with self.subTest(arguments=arguments):
                result = self.inst.run(*arguments)
                self.assertEqual(result.returncode, 0, result.describe())
                self.assertEqual(result.stdout, BANNER_BYTES)
                self.assertEqual(result.stderr, USAGE_CAPTION + "\n" + USAGE_TEXT + "\n")
                self.assertEqual(self.inst.snapshot(), files)

    def test_question_mark_in_the_program_path_gives_the_usage(self):
        inst = Installation("inst?dir")
        self.addCleanup(inst.cleanup)
        write_report(inst.path("A.DBF"), [same(1.0, np=1, tin="1000000001", kind=1)])
        files = inst.snapshot()
        result = inst.run("A.DBF", "4")
        self.assertEqual(result.returncode, 0, result.describe())
        self.assertEqual(result.stdout, BANNER_BYTES)
        self.assertEqual(result.stderr, USAGE_CAPTION + "\n" + USAGE_TEXT + "\n")
        self.assertEqual(inst.snapshot(), files)


class MergeTest(ToolTestCase):
    def test_full_merge_with_extra_rows(self):
        first = self.report("A.DBF", [
            row(1, "3000000003", 1000.00, 1000.00, 150.00, 150.00, kind=1),
            row(2, "1000000001", 2000.00, 2000.00, 300.00, 300.00, kind=101,
                hired=D(2009, 2, 1)),
            same(3000.00, np=99999, tin="XXXXXXXXXX"),
        ])
        self.report("sub/B.DBF", [
            same(700.25, np=1, tin="2000000002", kind=102),
            row(2, "3000000003", 500.50, 500.50, 75.08, 75.08, kind=2),
        ], common={"KOD": "87654321"})
        # Add1 has an amount with decimals, which reads as the default 9; Add2 is empty.
        self.inst.write_ini("[main]\nAddCount=2\n[Add1]\nNP=99995\nTIN=1111111111\n"
                            "S_DOX=120.50\n[Add2]\n")

        result = self.inst.run("A.DBF", "sub/B.DBF", "4")

        self.assertDelivered(result)
        self.assertEqual(result.stderr, "")
        # Rows in TIN order, numbered 1..n, stamped with the period; RIK, KOD and TYP of the
        # extra and total rows come from the last merged row in TIN order.
        expected = [
            result_row(1, "1000000001", 4, 2000.00, 2000.00, 300.00, 300.00, kind=101,
                       hired=D(2009, 2, 1)),
            same_result(2, "2000000002", 4, 700.25, kind=102, kod="87654321"),
            result_row(3, "3000000003", 4, 1500.50, 1500.50, 225.08, 225.08, kind=1),
            extra_row(99995, "1111111111", 4, 9),
            extra_row(99991, "0123456789", 4, 9),
            total_row(4, 4200.75, 4200.75, 1225.33, 1225.33),
        ]
        self.assertEqual(read_table(first), expected)
        self.assertEqual(file_bytes(self.inst.path("template.dbf")), file_bytes(first))
        # The work table keeps each merged record's row number from its input.
        self.assertEqual([(r["TIN"], r["NP"]) for r in read_table(self.inst.path("sorted.DBF"))],
                         [("3000000003", 1), ("1000000001", 2), ("2000000002", 1)])
        self.assertLogs(result, [
            "Очистим результат",
            'Добавляем данные из "A.DBF"',
            "Пропускаем запись с NP=99999",
            'Добавляем данные из "sub/B.DBF"',
            "Запись с ид.№3000000003 найдена снова.",
            "Добавлено записей: 3",
            "Отредактировано записей: 1",
            "Вернем отсортированный результат...",
            "Проверяем INI файл",
            "Добавим 2 записей.",
            "Добавили запись с NP=99995",
            "Добавили запись с NP=99991",
            "Добавляем итоговую запись",
            "Результат сохранен успешно.",
            "Сохраняем отчет",
        ])
        self.assertEqual(self.inst.names(), sorted([
            "A.DBF", "Zuvrex5", "Zuvrex5.INI", LOG_FILE, "ZuvrLOG.TXT", "sorted.DBF", "sub",
            "template.dbf"]))
        self.assertEqual(self.inst.names(self.inst.path("sub")), ["B.DBF"])

    def test_delivery_puts_a_whole_new_file_in_place(self):
        first = self.report("A.DBF", [same(10.00, np=1, tin="1000000001", kind=101)])
        os.chmod(first, 0o640)
        # A second name of the same file shows whether the tool wrote into the old file.
        os.link(first, self.inst.path("A_LINK.DBF"))
        before = file_bytes(first)

        result = self.inst.run("A.DBF", "4")

        self.assertDelivered(result)
        self.assertEqual(file_bytes(first), file_bytes(self.inst.path("template.dbf")))
        self.assertEqual(file_bytes(self.inst.path("A_LINK.DBF")), before)
        self.assertEqual(stat.S_IMODE(os.stat(first).st_mode), 0o640)
        # Nothing temporary is left beside it.
        self.assertEqual(self.inst.names(), sorted([
            "A.DBF", "A_LINK.DBF", "Zuvrex5", LOG_FILE, "ZuvrLOG.TXT", "sorted.DBF", "sub",
            "template.dbf"]))

    def test_matching_rules(self):
        self.report("A.DBF", [
            same(100.00, np=1, tin="1111111111", kind=1),
            same(120.00, np=2, tin="1212121212", kind=2),
            same(200.00, np=3, tin="2222222222", kind=101),
            same(300.00, np=4, tin="3333333333", kind=101),
            same(400.00, np=5, tin="4444444444", kind=101, dismissed=D(2010, 3, 15)),
            same(500.00, np=6, tin="5555555555", kind=22, benefit=3),
            # Same person, kind and benefit code: the first row's code was cleared, so this
            # row finds no match.
            same(50.00, np=7, tin="5555555555", kind=22, benefit=3),
            same(9.00, np=99991, tin="0123456789"),
            same(999.00, np=99999, tin="XXXXXXXXXX"),
            same(600.00, np=99990, tin="6666666666", kind=101),
            same(60.00, np=8, tin="6666666666", kind=101),
        ])
        self.report("sub/B.DBF", [
            same(11.00, np=1, tin="1111111111", kind=2),
            same(12.00, np=2, tin="1212121212", kind=1),
            same(22.00, np=3, tin="2222222222", kind=102),
            same(33.00, np=4, tin="3333333333", kind=101, dismissed=D(2010, 3, 15)),
            same(44.00, np=5, tin="4444444444", kind=101),
        ])

        result = self.inst.run("A.DBF", "sub/B.DBF", "04")

        self.assertDelivered(result)
        self.assertEqual(result.stderr, "")
        merged = [
            same_result(1, "1111111111", 4, 111.00, kind=1),
            same_result(2, "1212121212", 4, 132.00, kind=1),
            same_result(3, "2222222222", 4, 200.00, kind=101),
            same_result(4, "2222222222", 4, 22.00, kind=102),
            same_result(5, "3333333333", 4, 333.00, kind=101, dismissed=D(2010, 3, 15)),
            same_result(6, "4444444444", 4, 400.00, kind=101, dismissed=D(2010, 3, 15)),
            same_result(7, "4444444444", 4, 44.00, kind=101),
            same_result(8, "5555555555", 4, 500.00, kind=22),
            same_result(9, "5555555555", 4, 50.00, kind=22),
            same_result(10, "6666666666", 4, 660.00, kind=101),
        ]
        total = sum(r["S_DOX"] for r in merged)
        self.assertEqual(read_table(self.inst.path("A.DBF")),
                         merged + [total_row(4, total, total, total, total)])
        self.assertLogs(result, [
            "Очистим результат",
            'Добавляем данные из "A.DBF"',
            "Пропускаем запись с NP=99991",
            "Пропускаем запись с NP=99999",
            "Запись с ид.№6666666666 найдена снова.",
            'Добавляем данные из "sub/B.DBF"',
            "Запись с ид.№1111111111 найдена снова.",
            "Запись с ид.№1212121212 найдена снова.",
            "Запись с ид.№3333333333 найдена снова.",
            "Добавлено записей: 10",
            "Отредактировано записей: 4",
            "Вернем отсортированный результат...",
            "Проверяем INI файл",
            "Добавим 0 записей.",
            "Добавляем итоговую запись",
            "Результат сохранен успешно.",
            "Сохраняем отчет",
        ])

    def test_accumulation_is_tried_column_by_column(self):
        self.report("A.DBF", [
            row(1, "1000000001", 100.00, 200.00, 30.00, 40.00, kind=1),
        ])
        # This input has no S_DOX, and a NOTE column that the work table lacks.
        self.report("C.DBF", [
            row(1, "1000000001", nar=1.00, taxn=3.00, taxp=4.00, kind=2,
                dismissed=D(2010, 3, 15), NOTE="x"),
            row(2, "3000000003", nar=5.00, taxn=6.00, taxp=7.00, kind=1, NOTE="y"),
        ], layout=LAYOUT_WITHOUT_S_DOX)

        result = self.inst.run("A.DBF", "C.DBF", "4")

        self.assertDelivered(result)
        # One beep for the one write that failed.
        self.assertEqual(result.stderr, BEL)
        # The failing S_DOX write costs neither the tax sums after it nor the dismissal date.
        self.assertEqual(read_table(self.inst.path("A.DBF")), [
            result_row(1, "1000000001", 4, 101.00, 200.00, 33.00, 44.00, kind=1,
                       dismissed=D(2010, 3, 15)),
            result_row(2, "3000000003", 4, 5.00, None, 6.00, 7.00, kind=1),
            total_row(4, 106.00, 200.00, 39.00, 51.00),
        ])
        self.assertLogs(result, [
            "Очистим результат",
            'Добавляем данные из "A.DBF"',
            'Добавляем данные из "C.DBF"',
            "Запись с ид.№1000000001 найдена снова.",
            "Ид. номер: 1000000001 -> Ошибка с полемS_DOX",
            "Ид. номер: 3000000003 -> Ошибка с полемNOTE",
            "Добавлено записей: 2",
            "Отредактировано записей: 1",
            "Вернем отсортированный результат...",
            "Проверяем INI файл",
            "Добавим 0 записей.",
            "Добавляем итоговую запись",
            "Результат сохранен успешно.",
            "Сохраняем отчет",
        ])

    def test_quotes_and_stars_in_tins_match_only_identical_tins(self):
        self.report("A.DBF", [
            same(10.00, np=1, tin="123456", kind=1),
            same(20.00, np=2, tin="12345*", kind=1),
            same(30.00, np=3, tin="1234*", kind=1),
            same(40.00, np=4, tin="12'4567890", kind=1),
            same(1.00, np=5, tin="1234", kind=1),
            same(3.00, np=6, tin="1234*", kind=1),
            same(4.00, np=7, tin="12'4567890", kind=1),
        ])
        self.report("sub/B.DBF", [
            same(2.00, np=1, tin="12345*", kind=1),
            same(5.00, np=2, tin="12345", kind=1),
        ])

        result = self.inst.run("A.DBF", "sub/B.DBF", "4")

        self.assertDelivered(result)
        self.assertEqual(result.stderr, "")
        merged = [
            same_result(1, "12'4567890", 4, 44.00, kind=1),
            same_result(2, "1234", 4, 1.00, kind=1),
            same_result(3, "1234*", 4, 33.00, kind=1),
            same_result(4, "12345", 4, 5.00, kind=1),
            same_result(5, "12345*", 4, 22.00, kind=1),
            same_result(6, "123456", 4, 10.00, kind=1),
        ]
        self.assertEqual(read_table(self.inst.path("A.DBF")),
                         merged + [total_row(4, 115.00, 115.00, 115.00, 115.00)])
        lines = read_log(self.inst.path(LOG_FILE))
        self.assertEqual([line for line in lines if "найдена снова" in line], [
            "Запись с ид.№1234* найдена снова.",
            "Запись с ид.№12'4567890 найдена снова.",
            "Запись с ид.№12345* найдена снова.",
        ])

    def test_empty_input_gives_extra_and_total_rows_only(self):
        first = self.report("A.DBF", [])
        self.inst.write_ini("[main]\nAddCount=1\n")

        result = self.inst.run("A.DBF", "4")

        self.assertDelivered(result)
        self.assertEqual(result.stderr, "")
        self.assertEqual(read_table(first), [
            extra_row(99991, "0123456789", 4, 9, rik=None, kod="", typ=None),
            total_row(4, 0, 0, 0, 0, rik=None, kod="", typ=None),
        ])
        self.assertLogs(result, [
            "Очистим результат",
            'Добавляем данные из "A.DBF"',
            "Добавлено записей: 0",
            "Отредактировано записей: 0",
            "Вернем отсортированный результат...",
            "Проверяем INI файл",
            "Добавим 1 записей.",
            "Добавили запись с NP=99991",
            "Добавляем итоговую запись",
            "Результат сохранен успешно.",
            "Сохраняем отчет",
        ])

    def test_inputs_relative_to_another_current_directory(self):
        data = self.inst.subdir("data")
        first = write_report(os.path.join(data, "A.DBF"),
                             [same(10.00, np=1, tin="2000000002", kind=101)])
        self.inst.subdir("data", "sub")
        write_report(os.path.join(data, "sub", "Звіт.DBF"),
                     [same(5.00, np=1, tin="1000000001", kind=101)])
        third = self.report("sub/C.DBF", [same(1.00, np=1, tin="2000000002", kind=101)])

        result = self.inst.run("A.DBF", "sub/Звіт.DBF", third, "4", cwd=data)

        self.assertDelivered(result)
        self.assertEqual(result.stderr, "")
        self.assertEqual(read_table(first), [
            same_result(1, "1000000001", 4, 5.00, kind=101),
            same_result(2, "2000000002", 4, 11.00, kind=101),
            total_row(4, 16.00, 16.00, 16.00, 16.00),
        ])
        # The work table, the result table and the logs are those beside the executable; the
        # current directory gets nothing but the delivered result.
        self.assertEqual(self.inst.names(data), ["A.DBF", "sub"])
        self.assertEqual(self.inst.names(os.path.join(data, "sub")), ["Звіт.DBF"])
        self.assertEqual(file_bytes(self.inst.path("template.dbf")), file_bytes(first))
        self.assertEqual(len(read_table(self.inst.path("sorted.DBF"))), 2)
        self.assertLogs(result, [
            "Очистим результат",
            'Добавляем данные из "A.DBF"',
            'Добавляем данные из "sub/Звіт.DBF"',
            f'Добавляем данные из "{third}"',
            "Запись с ид.№2000000002 найдена снова.",
            "Добавлено записей: 2",
            "Отредактировано записей: 1",
            "Вернем отсортированный результат...",
            "Проверяем INI файл",
            "Добавим 0 записей.",
            "Добавляем итоговую запись",
            "Результат сохранен успешно.",
            "Сохраняем отчет",
        ])

    def test_log_files_across_runs(self):
        first = self.report("A.DBF", [same(10.00, np=1, tin="1000000001", kind=1)])
        self.report("sub/B.DBF", [same(5.00, np=1, tin="1000000001", kind=2)])

        first_run = self.inst.run("A.DBF", "sub/B.DBF", "4")
        self.assertDelivered(first_run)
        first_log = file_bytes(self.inst.path(LOG_FILE))
        self.assertIn("Добавим 0 записей.", read_log(self.inst.path(LOG_FILE)))

        # The delivered report merged again: its total row is skipped, its merged row kept;
        # a negative count adds no row and is logged with its sign.
        self.inst.write_ini("[main]\nAddCount=-2\n[Add1]\nNP=99991\n")
        second_run = self.inst.run("A.DBF", "5")
        self.assertDelivered(second_run)
        self.assertEqual(read_table(first), [
            same_result(1, "1000000001", 5, 15.00, kind=1),
            total_row(5, 15.00, 15.00, 15.00, 15.00),
        ])
        self.assertLogs(second_run, [
            "Очистим результат",
            'Добавляем данные из "A.DBF"',
            "Пропускаем запись с NP=99999",
            "Добавлено записей: 1",
            "Отредактировано записей: 0",
            "Вернем отсортированный результат...",
            "Проверяем INI файл",
            "Добавим -2 записей.",
            "Добавляем итоговую запись",
            "Результат сохранен успешно.",
            "Сохраняем отчет",
        ], numbered="ZuvrLOG1.TXT")
        self.assertEqual(file_bytes(self.inst.path("ZuvrLOG.TXT")), first_log)

        # A freed name is taken again before a new number.
        os.remove(self.inst.path("ZuvrLOG.TXT"))
        third_run = self.inst.run("A.DBF", "5")
        self.assertDelivered(third_run)
        self.assertEqual(self.inst.log_names(), sorted([LOG_FILE, "ZuvrLOG.TXT", "ZuvrLOG1.TXT"]))
        self.assertEqual(file_bytes(self.inst.path("ZuvrLOG.TXT")),
                         file_bytes(self.inst.path(LOG_FILE)))

    def test_result_column_missing_from_the_work_table_is_logged_per_row(self):
        # An installed template with one column more than the work table.
        write_report(self.inst.path("template.dbf"), [], layout=REPORT_LAYOUT + "; EXTRA C(5)")
        self.report("A.DBF", [same(1.00, np=1, tin="2000000002", kind=1),
                              same(2.00, np=2, tin="1000000001", kind=1)])

        result = self.inst.run("A.DBF", "4")

        self.assertDelivered(result)
        rows = read_table(self.inst.path("A.DBF"))
        self.assertEqual([(r["NP"], r["TIN"], r["EXTRA"]) for r in rows],
                         [(1, "1000000001", ""), (2, "2000000002", ""), (99999, "XXXXXXXXXX", "")])
        lines = read_log(self.inst.path(LOG_FILE))
        at = lines.index("Вернем отсортированный результат...")
        self.assertEqual(lines[at:at + 4], ["Вернем отсортированный результат...",
                                            "Ошибка с полем EXTRA", "Ошибка с полем EXTRA",
                                            "Проверяем INI файл"])


class FailureTest(ToolTestCase):
    def setUp(self):
        super().setUp()
        self.first = self.report("A.DBF", [
            same(10.00, np=1, tin="2000000002", kind=101),
            same(20.00, np=2, tin="1000000001", kind=101),
        ])
        self.report("sub/B.DBF", [same(5.00, np=1, tin="1000000001", kind=101)])

    def hold_lock(self, locks, name):
        """Holds an exclusive lock on a file of the installation until `locks` is closed, as
        another running copy of the tool does on its tables."""
        handle = locks.enter_context(open(self.inst.path(name), "rb"))
        fcntl.flock(handle, fcntl.LOCK_EX)

    def test_first_input_that_cannot_be_replaced_keeps_its_content(self):
        def read_only(locks):
            os.chmod(self.first, 0o444)

        def held_by_a_reader(locks):
            # A program reading the report holds it under a shared lock.
            handle = locks.enter_context(open(self.first, "rb"))
            fcntl.flock(handle, fcntl.LOCK_SH)

        cases = [
            ("read-only", read_only, "cannot replace 'A.DBF': the file is read-only"),
            ("held by a reader", held_by_a_reader, "'A.DBF' is in use by another program"),
        ]
        for name, arrange, reason in cases:
            with self.subTest(name), contextlib.ExitStack() as locks:
                self.setUp()  # a fresh installation and reports for each case
                arrange(locks)
                before = file_bytes(self.first)
                mode = stat.S_IMODE(os.stat(self.first).st_mode)

                result = self.inst.run("A.DBF", "sub/B.DBF", "4")

                self.assertEqual(result.returncode, 1, result.describe())
                self.assertEqual(result.stdout, b"")
                self.assertStderrLines(result, [reason])
                self.assertEqual(file_bytes(self.first), before)
                self.assertEqual(stat.S_IMODE(os.stat(self.first).st_mode), mode)
                # The result stays in template.dbf, and the log tells that it was not delivered.
                self.assertEqual(read_table(self.inst.path("template.dbf")), [
                    same_result(1, "1000000001", 4, 25.00, kind=101),
                    same_result(2, "2000000002", 4, 10.00, kind=101),
                    total_row(4, 35.00, 35.00, 35.00, 35.00),
                ])
                self.assertLogs(result, [
                    "Очистим результат",
                    'Добавляем данные из "A.DBF"',
                    'Добавляем данные из "sub/B.DBF"',
                    "Запись с ид.№1000000001 найдена снова.",
                    "Добавлено записей: 2",
                    "Отредактировано записей: 1",
                    "Вернем отсортированный результат...",
                    "Проверяем INI файл",
                    "Добавим 0 записей.",
                    "Добавляем итоговую запись",
                    "Результат сохранить не удалось.",
                    "Сохраняем отчет",
                ])
                self.assertEqual(self.inst.names(), sorted([
                    "A.DBF", "Zuvrex5", LOG_FILE, "ZuvrLOG.TXT", "sorted.DBF", "sub",
                    "template.dbf"]))

    def test_failure_while_saving_the_log_comes_after_the_delivery(self):
        os.mkdir(self.inst.path(LOG_FILE))  # a log file that cannot be written

        result = self.inst.run("A.DBF", "sub/B.DBF", "4")

        self.assertEqual(result.returncode, 1, result.describe())
        self.assertEqual(result.stdout, b"")
        self.assertStderrLines(result, [ENTRY_ERROR_CAPTION, result.command_line,
                                        contains("Zuvrex5.LOG': Is a directory")])
        self.assertEqual(file_bytes(self.first), file_bytes(self.inst.path("template.dbf")))
        self.assertEqual([r["TIN"] for r in read_table(self.first)],
                         ["1000000001", "2000000002", "XXXXXXXXXX"])
        # The numbered file is not attempted after the fixed-name one failed.
        self.assertEqual(self.inst.log_names(), [LOG_FILE])

    def test_failures_end_the_job_and_leave_the_first_input(self):
        def entry_box(reason):
            return [ENTRY_ERROR_CAPTION, "command line", contains(reason)]

        def input_box(reason):
            return [ERROR_CAPTION, CANNOT_OPEN_INPUT, contains(reason)]

        def sorted_box(reason):
            return [ERROR_CAPTION, CANNOT_OPEN_SORTED, contains(reason)]

        def not_a_table(locks):
            with open(self.inst.path("sub/B.DBF"), "w") as handle:
                handle.write("name;tin\n")

        def truncated(locks):
            data = file_bytes(self.first)
            with open(self.first, "wb") as handle:
                handle.write(data[:-60])

        def without(layout, values):
            return lambda locks: write_report(self.inst.path("sub/B.DBF"), [values], layout)

        def remove(name):
            return lambda locks: os.remove(self.inst.path(name))

        def held(name):
            return lambda locks: self.hold_lock(locks, name)

        def nothing(locks):
            pass

        inputs = ["A.DBF", "sub/B.DBF", "4"]
        not_open = "the table is not open"
        cases = [
            ("missing second input", nothing, ["A.DBF", "sub/NOPE.DBF", "4"],
             input_box("'sub/NOPE.DBF': No such file") + entry_box(not_open)),
            ("missing first input", remove("A.DBF"), inputs,
             input_box("'A.DBF': No such file") + entry_box(not_open)),
            ("not a DBF", not_a_table, inputs,
             input_box("sub/B.DBF: not a dBASE table") + entry_box(not_open)),
            ("truncated DBF", truncated, inputs,
             input_box("A.DBF: the table is truncated") + entry_box(not_open)),
            ("first input held by another program", held("A.DBF"), inputs,
             input_box("'A.DBF' is in use by another program") + entry_box(not_open)),
            ("input without TIN", without(LAYOUT_WITHOUT_TIN, {"NP": 1, "S_DOX": 1.0}), inputs,
             entry_box("has no column 'TIN'")),
            ("input without NP", without(LAYOUT_WITHOUT_NP, {"TIN": "1", "S_DOX": 1.0}), inputs,
             entry_box("has no column 'NP'")),
            ("period not an integer", nothing, ["A.DBF", "sub/B.DBF", "IV"],
             entry_box("the period number (the last argument): 'IV' is not a valid integer value")),
            ("missing sorted.DBF", remove("sorted.DBF"), inputs,
             sorted_box("sorted.DBF': No such file") + entry_box(not_open)),
            ("sorted.DBF held by another run", held("sorted.DBF"), inputs,
             sorted_box("sorted.DBF' is in use by another program") + entry_box(not_open)),
            ("missing template.dbf", remove("template.dbf"), inputs,
             entry_box("template.dbf': No such file")),
            ("template.dbf held by another run", held("template.dbf"), inputs,
             entry_box("template.dbf' is in use by another program")),
        ]
        for name, arrange, arguments, expected_stderr in cases:
            with self.subTest(name):
                with contextlib.ExitStack() as locks:
                    self.setUp()  # a fresh installation and reports for each case
                    arrange(locks)
                    first_before = (file_bytes(self.first) if os.path.exists(self.first)
                                    else None)
                    names = self.inst.names()
                    result = self.inst.run(*arguments)

                self.assertEqual(result.returncode, 1, result.describe())
                self.assertEqual(result.stdout, b"")
                # The entry's box shows the command line, then the reason on a line of its own.
                self.assertStderrLines(result, [
                    result.command_line if line == "command line" else line
                    for line in expected_stderr])
                if first_before is None:
                    self.assertFalse(os.path.exists(self.first))
                else:
                    self.assertEqual(file_bytes(self.first), first_before)
                # No log files, and nothing else created (no temporary or lock files left).
                self.assertEqual(self.inst.names(), names)


if __name__ == "__main__":
    unittest.main()
