// Every text the tool shows, writes to its log, or names a file of its own with, in one place.
// Texts are UTF-8 here; the log files get them in Windows-1251.
#pragma once

namespace texts {

// Usage.
inline constexpr char kBanner[] = "Zuvr for 1DF reports. V1.23";
inline constexpr char kUsageCaption[] = "Сшиватель отчетов по форме 1ДФ (1.23)";
// The two lines of the usage box are separated by LF then CR, in that order.
inline constexpr char kUsageText[] =
    "Формат вызова: Zuvrex5.EXE <первый файл> <второй файл> <№ периода>\n\r"
    "Например: Zuvrex5.EXE REPORT.DBF REP_DB01.DBF 4";

// The box of a failure that ended the job; its text is the command line.
inline constexpr char kEntryErrorCaption[] = "Ошибка обработки командной строки.";

// Boxes of failures the job survives.
inline constexpr char kErrorCaption[] = "Ошибка";
inline constexpr char kCannotOpenSorted[] = "Не могу открыть SORTED.DBF";
inline constexpr char kCannotOpenInput[] = "Не могу открыть входной файл.";
inline constexpr char kFilterErrorCaption[] = "Error";
inline constexpr char kFilterErrorText[] = "Invalid filter string!";

// Log lines, in the order a run writes them. Where a line continues with a value, the value
// follows the text directly.
inline constexpr char kLogWorkTableCleared[] = "Очистим результат";
inline constexpr char kLogAddingFrom[] = "Добавляем данные из ";      // + quoted argument
inline constexpr char kLogSkippingRow[] = "Пропускаем запись с NP=";  // + number
inline constexpr char kLogRowIdPrefix[] = "Ид. номер: ";              // + TIN
inline constexpr char kLogRowColumnError[] = " -> Ошибка с полем";    // + column name
inline constexpr char kLogFoundAgainPrefix[] = "Запись с ид.№";       // + TIN
inline constexpr char kLogFoundAgainSuffix[] = " найдена снова.";
inline constexpr char kLogAddedCount[] = "Добавлено записей: ";         // + count
inline constexpr char kLogEditedCount[] = "Отредактировано записей: ";  // + count
inline constexpr char kLogWritingSorted[] = "Вернем отсортированный результат...";
inline constexpr char kLogResultColumnError[] = "Ошибка с полем ";  // + column name
inline constexpr char kLogCheckingIni[] = "Проверяем INI файл";
inline constexpr char kLogExtraCountPrefix[] = "Добавим ";  // + count
inline constexpr char kLogExtraCountSuffix[] = " записей.";
inline constexpr char kLogExtraAdded[] = "Добавили запись с NP=";  // + number
inline constexpr char kLogAddingTotal[] = "Добавляем итоговую запись";
inline constexpr char kLogDelivered[] = "Результат сохранен успешно.";
inline constexpr char kLogNotDelivered[] = "Результат сохранить не удалось.";
inline constexpr char kLogSaving[] = "Сохраняем отчет";

// Files next to the executable.
inline constexpr char kSettingsFileName[] = "Zuvrex5.INI";
inline constexpr char kLogFileName[] = "Zuvrex5.LOG";
inline constexpr char kNumberedLogStem[] = "ZuvrLOG";  // + nothing, 1, ..., 999
inline constexpr char kNumberedLogExtension[] = ".TXT";
inline constexpr int kNumberedLogLimit = 999;

// Settings file: sections and keys.
inline constexpr char kIniMainSection[] = "main";
inline constexpr char kIniAddCount[] = "AddCount";
inline constexpr char kIniAddSectionPrefix[] = "Add";  // + row number from 1
inline constexpr char kIniDefaultTin[] = "0123456789";
inline constexpr int kIniDefaultAmount = 9;

}  // namespace texts
