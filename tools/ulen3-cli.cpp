// ulen3-cli: the program's core without windows, for batch work and checks.

#include "CliDecode.h"
#include "CliDownload.h"
#include "CliOptions.h"
#include "CliStats.h"
#include "base/File.h"
#include "export/CsvRows.h"
#include "export/PageExport.h"
#include "export/SheetExport.h"
#include "table/FieldCodec.h"
#include "table/ObservationTable.h"
#include "table/Pages.h"
#include "table/TableError.h"
#include "table/TablePaths.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

using namespace ulen3;

namespace {

// Tag names are kept in upper case in the index file.
std::string upperCase(std::string tag) {
    for (char& c : tag)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return tag;
}

int info(const std::string& path) {
    ObservationTable table;
    table.OpenReadOnly(path); // a reader writes nothing
    const auto& h = table.HeaderBytes();
    std::printf("Файл: %s\n", path.c_str());
    std::printf("Версия: 0x%02X\n", h[0]);
    std::printf("Дата записи заголовка: %02d.%02d.%04d\n", h[3], h[2], 1900 + h[1]);
    std::printf("Записей в файле: %u\n", table.FileRecordCount());
    uint32_t deleted = 0;
    for (uint32_t id = 1; id <= table.FileRecordCount(); ++id)
        deleted += table.IsDeleted(id) ? 1 : 0;
    std::printf("Удалённых: %u\n", deleted);
    std::printf("Видимых: %d\n", table.VisibleCount());
    std::printf("Длина заголовка: %d\n", static_cast<int>(h.size()));
    std::printf("Длина записи: %d\n", table.RecordLength());
    std::printf("Индексный файл (байт 28): %d\n", h[28]);
    std::printf("Драйвер языка: 0x%02X\n", h[29]);
    std::printf("Поля:\n");
    for (const auto& f : table.Descriptors())
        std::printf("  %-10s %c %3d %d\n", f.name.c_str(), f.type, f.width, f.decimals);
    table.Close();
    return 0;
}

int dump(const std::string& path, const std::string& filter, const std::string& sortField, bool descending) {
    ObservationTable table;
    table.SetFilter(filter);
    open_for_reading(table, path, sortField, descending);
    std::string header;
    for (int i = 0; i < kFieldCount; ++i) {
        header += i ? "," : "";
        header += field_name(static_cast<Field>(i));
    }
    header += '\n';
    std::fwrite(header.data(), 1, header.size(), stdout);
    // The records read where they lie, formatted into one buffer that goes out in large blocks;
    // numbers as stored, in full and without an exponent.
    const RecordView records = table.Records();
    std::vector<CsvColumn> columns;
    for (int i = 0; i < kFieldCount; ++i)
        columns.push_back({static_cast<Field>(i), is_numeric(static_cast<Field>(i))});
    CsvRows(records, columns, ',', '.', "\n").Write(all_rows(records), 1 << 20, [](const char* data, std::size_t size) {
        std::fwrite(data, 1, size, stdout);
    });
    table.Close();
    return 0;
}

// Adds the tag and leaves it in the index file, as the program does while a
// sort is in force.
int sortTable(const std::string& path, const std::string& field, const std::string& tag, bool descending) {
    ObservationTable table;
    table.Open(path);
    field_by_name(field);
    table.AddTag(tag, field, descending);
    const auto names = table.TagNames();
    bool made = false;
    for (const auto& n : names)
        made = made || n == upperCase(tag);
    const std::string why = table.LastTagFailure();
    table.Close();
    if (!made)
        throw std::runtime_error("не удалось создать тег " + tag + (why.empty() ? "" : ": " + why) +
                                 "; таблица и её индекс не изменены");
    std::printf("Тег %s по полю %s%s создан\n", tag.c_str(), field.c_str(), descending ? " (по убыванию)" : "");
    return 0;
}

// "Перенумеровать строки" over the page's records in the order of the file.
int renumber(const std::string& path, const std::string& page) {
    ObservationTable table;
    table.Open(path);
    named_page(table, page);
    const RecordView records = table.Records();
    std::vector<uint32_t> order;
    for (int row = 0; row < records.Count(); ++row)
        order.push_back(records.RecordId(row));
    table.Renumber(order);
    table.Close();
    std::printf("Перенумеровано записей: %zu\n", order.size());
    return 0;
}

// The CSV style of the options: the user's locale's, or the separator and decimal mark asked.
CsvStyle csv_style_of(const Options& o) {
    CsvStyle style = csv_style_for(user_decimal_separator());
    if (!o.separator.empty()) {
        if (o.separator != "tab" && o.separator.size() != 1)
            throw std::runtime_error("разделитель полей --sep — один знак или tab, а не «" + o.separator + "»");
        style.separator = o.separator == "tab" ? '\t' : o.separator[0];
    }
    if (!o.decimal.empty()) {
        if (o.decimal != "." && o.decimal != ",")
            throw std::runtime_error("десятичный знак --decimal — «.» или «,», а не «" + o.decimal + "»");
        style.decimal = o.decimal[0];
    }
    if (style.separator == style.decimal || style.separator == '"' || style.separator == '\r' ||
        style.separator == '\n' || (style.separator >= '0' && style.separator <= '9') || style.separator == '-')
        throw std::runtime_error(std::string("разделитель полей «") + style.separator +
                                 "» спутать с числом, десятичным знаком или кавычкой; файл не записан");
    return style;
}

// Writes the records of one page to a workbook or a CSV text, the type by the extension. Without
// options as "Экспорт в Excel" does: in the order of the file, which a table opened for reading
// has, with nothing written to the table; with --sort in that order, with --rows only those rows.
int exportPage(const std::string& path, const std::string& out, const Options& o) {
    const std::optional<ExportType> type = export_type_of(out);
    const std::string refused =
        output_refusal(out, path, type == ExportType::Csv ? "Файл не записан" : "Книга не записана");
    if (!refused.empty())
        throw std::runtime_error(refused);
    if (!type)
        throw std::runtime_error("тип файла «" + out + "» не известен: выберите .xls, .xlsx или .csv; файл не записан");
    if (*type != ExportType::Csv && (!o.separator.empty() || !o.decimal.empty()))
        throw std::runtime_error("--sep и --decimal задают вид файла .csv, а не книги; файл не записан");
    const CsvStyle csv = *type == ExportType::Csv ? csv_style_of(o) : CsvStyle{};
    ObservationTable table;
    open_for_reading(table, path, o.sortField, o.descending);
    named_page(table, o.page);
    const RecordView records = table.Records();
    const std::vector<int> rows = o.rows.empty() ? all_rows(records) : parse_row_list(o.rows, records.Count());
    export_rows(records, rows, out, *type, csv);
    table.Close();
    std::printf("%s\n", rows_exported_text(static_cast<int>(rows.size()), out).c_str());
    return 0;
}

// A demonstration table holds at most as many records as the largest benchmarks use.
constexpr unsigned long kMostDemoRecords = 1'000'000;

// A small table with the kinds of records a download gives, for demonstrations.
int demo(const std::string& path, int count) {
    if (file_exists(path)) {
        std::cerr << "ulen3-cli: файл " << path << " уже существует и не изменён\n";
        return 1;
    }
    ObservationTable table;
    table.CreateEmpty(path);
    table.Open(path);
    const char* types[] = {"диам. 300 мм", "куб 150", "AxB 200x300"};
    for (int i = 0; i < count; ++i) {
        table.Append();
        table.SetNumber(Field::N, i + 1);
        char date[16], time[16];
        std::snprintf(date, sizeof date, "%02d.%02d.2026", 1 + i % 28, 1 + i % 12);
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", 8 + i % 10, (i * 7) % 60, (i * 13) % 60);
        table.SetText(Field::DATE, date);
        table.SetText(Field::TIME, time);
        table.SetInteger(Field::DEV_TYPE, 7);
        table.SetNumber(Field::SERIAL, 1234);
        table.SetInteger(Field::NB_TYPE, i % 4 == 3 ? 1 : 0);
        table.SetNumber(Field::P, 10.5 + i * 1.25);
        table.SetNumber(Field::R, 0.35 + i * 0.05);
        table.SetText(Field::TYPE, types[i % 3]);
        if (i % 5 == 0)
            table.SetText(Field::COMMENT, "Проба №" + std::to_string(i + 1));
        table.SetNumber(Field::H, 100 + i);
        table.Post();
    }
    table.Close();
    std::printf("Создана таблица %s: %d записей\n", path.c_str(), count);
    return 0;
}

// "print" and "chart" are the program ulen3-draw: beside this one in the build, in the folder of
// the program's own helpers once installed. It runs in this process, with these arguments.
int run_drawing(char** argv) {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string program = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string(argv[0]);
    // A bare name is no place: a helper of that name in the current folder is not the program's.
    if (program.find('/') == std::string::npos) {
        std::cerr << "ulen3-cli: не удалось узнать, в какой папке лежит ulen3-cli, и найти рядом программу "
                     "ulen3-draw, которая печатает отчёты и рисует графики; ничего не записано\n";
        return 1;
    }
    const std::string here = program.substr(0, program.find_last_of('/') + 1);
    const std::string places[] = {here + "ulen3-draw", here + ULEN3_DRAW_FROM_BIN "/ulen3-draw"};
    for (const std::string& place : places)
        if (access(place.c_str(), X_OK) == 0) {
            execv(place.c_str(), argv);
            break;
        }
    std::cerr << "ulen3-cli: не найдена или не запускается программа ulen3-draw, которая печатает отчёты и рисует "
                 "графики (искали "
              << places[0] << " и " << places[1] << "); ничего не записано\n";
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    return run_command_line(argc, argv, [](char** argv, const std::vector<std::string>& args) {
        const std::string& command = args[0];
        const std::string& path = args[1];
        if (command == "print" || command == "chart")
            return run_drawing(argv);
        if (command == "download")
            return cli_download(args);
        if (command == "decode")
            return cli_decode(args);
        if (command == "info" && args.size() == 2)
            return info(path);
        Options o;
        if (command == "dump")
            return read_options(args, 2, {"--filter", "--sort", "--desc"}, o)
                       ? dump(path, o.filter, o.sortField, o.descending)
                       : usage();
        if (command == "sort" && args.size() >= 3)
            return read_options(args, 3, {"--desc", "--tag"}, o) ? sortTable(path, args[2], o.tag, o.descending)
                                                                 : usage();
        if (command == "stats")
            return cli_stats(args);
        if (command == "renumber")
            return read_options(args, 2, {"--page"}, o) ? renumber(path, o.page) : usage();
        if (command == "export" && args.size() >= 3)
            return read_options(args, 3, {"--page", "--rows", "--sort", "--desc", "--sep", "--decimal"}, o)
                       ? exportPage(path, args[2], o)
                       : usage();
        if (command == "demo" && args.size() == 2)
            return demo(path, 12);
        if (command == "demo" && args.size() == 4 && args[2] == "--count")
            return demo(path, static_cast<int>(number_option("--count", args[3], 0, kMostDemoRecords)));
        return kNoSuchCommand;
    });
}
