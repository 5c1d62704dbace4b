#include "CliOptions.h"

#include "base/File.h"
#include "table/ObservationFields.h"
#include "table/ObservationTable.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

namespace ulen3 {

namespace {

std::string& option_value(Options& o, const std::string& option) {
    return option == "--filter"    ? o.filter
           : option == "--sort"    ? o.sortField
           : option == "--page"    ? o.page
           : option == "--rows"    ? o.rows
           : option == "--sep"     ? o.separator
           : option == "--decimal" ? o.decimal
                                   : o.tag;
}

} // namespace

bool known_page(const std::string& page) { return page.empty() || page == "observation" || page == "operative"; }

bool read_options(const std::vector<std::string>& args, size_t from, std::initializer_list<const char*> takes,
                  Options& o) {
    for (size_t i = from; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (std::find_if(takes.begin(), takes.end(), [&](const char* t) { return a == t; }) == takes.end())
            return false;
        if (a == "--desc") {
            o.descending = true;
            continue;
        }
        if (i + 1 >= args.size())
            return false;
        option_value(o, a) = args[++i];
    }
    return known_page(o.page);
}

int usage() {
    std::cerr << "Использование:\n"
                 "  ulen3-cli info ТАБЛИЦА.db\n"
                 "  ulen3-cli dump ТАБЛИЦА.db [--filter NB_TYPE=0] [--sort ПОЛЕ [--desc]]\n"
                 "  ulen3-cli sort ТАБЛИЦА.db ПОЛЕ [--desc] [--tag ИМЯ]\n"
                 "  ulen3-cli demo ТАБЛИЦА.db [--count N]   (создаёт таблицу-пример, 12 записей)\n"
                 "  ulen3-cli download [--port УСТРОЙСТВО] [--image ОБРАЗ.bin]\n"
                 "                    [--table ТАБЛИЦА.db [--append]]\n"
                 "  ulen3-cli decode ОБРАЗ.bin ТАБЛИЦА.db [--append] [--dev-code КОД --serial НОМЕР]\n"
                 "  ulen3-cli export ТАБЛИЦА.db ФАЙЛ.xls|.xlsx|.csv [--page observation|operative]\n"
                 "                 [--rows 1,3,7-9] [--sort ПОЛЕ [--desc]] [--sep ; --decimal ,]\n"
                 "  ulen3-cli stats ТАБЛИЦА.db [--json] [--page observation|operative]\n"
                 "  ulen3-cli chart ТАБЛИЦА.db ГРАФИК.png|.svg|.pdf [--page observation|operative]\n"
                 "                 [--x order|time] [--width ПИКСЕЛИ --height ПИКСЕЛИ]\n"
                 "  ulen3-cli renumber ТАБЛИЦА.db [--page observation|operative]\n"
                 "  ulen3-cli print ТАБЛИЦА.db ОТЧЁТ.pdf [--page observation|operative] [--sort ПОЛЕ [--desc]]\n";
    return 2;
}

int run_command_line(int argc, char** argv, int (*command)(char** argv, const std::vector<std::string>& args)) {
    ignore_file_size_signal();
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 2)
        return usage();
    try {
        const int status = command(argv, args);
        return status == kNoSuchCommand ? usage() : status;
    } catch (const std::exception& e) {
        std::cerr << "ulen3-cli: " << e.what() << '\n';
        return 1;
    }
}

void open_for_reading(ObservationTable& table, const std::string& path, const std::string& sortField, bool descending) {
    constexpr const char* kReadingTag = "cli_read";
    table.OpenReadOnly(path);
    if (sortField.empty())
        return;
    field_by_name(sortField); // an unknown field is an error here, not a silent no-op
    table.AddTag(kReadingTag, sortField, descending);
    table.SetIndexName(kReadingTag);
    if (table.IndexName() != kReadingTag)
        throw std::runtime_error("не удалось отсортировать по полю " + sortField);
}

} // namespace ulen3
