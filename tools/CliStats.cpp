#include "CliStats.h"

#include "CliDecode.h"
#include "CliOptions.h"
#include "chart/PageSeries.h"
#include "chart/SeriesStatistics.h"
#include "table/ObservationTable.h"
#include "table/PageStatistics.h"
#include "table/Pages.h"

#include <cstdio>
#include <iostream>

namespace ulen3 {

namespace {

int stats_usage() {
    std::cerr << "Использование: ulen3-cli stats ТАБЛИЦА.db [--json] [--page observation|operative]\n";
    return 2;
}

std::string figures_json(const SeriesFigures& f) {
    return "{\"min\":" + json_number(f.min) + ",\"max\":" + json_number(f.max) + ",\"mean\":" + json_number(f.mean) +
           ",\"median\":" + json_number(f.median) + ",\"stdev\":" + json_number(f.stdev) +
           ",\"cv\":" + json_number(f.cv) + ",\"range\":" + json_number(f.range) +
           ",\"empty\":" + std::to_string(f.empty) + "}";
}

} // namespace

int cli_stats(const std::vector<std::string>& args) {
    std::string page;
    bool json = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--json")
            json = true;
        else if (args[i] == "--page" && i + 1 < args.size())
            page = args[++i];
        else
            return stats_usage();
    }
    if (!known_page(page))
        return stats_usage();
    ObservationTable table;
    table.OpenReadOnly(args[1]); // a reader writes nothing
    const PageKind kind = named_page(table, page);
    if (json) {
        const PageSeries s = page_series(table.Records(), {}, false);
        const std::string out = std::string("{\"page\":\"") + page_name(kind) +
                                "\",\"count\":" + std::to_string(s.count()) + ",\"P\":" + figures_json(s.figuresP()) +
                                ",\"R\":" + figures_json(s.figuresR()) + "}\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
    } else {
        // The footer texts the window shows for the page, with the user's decimal separator.
        const PageStatistics s = page_statistics(table.Records());
        const std::string sep(1, user_decimal_separator());
        std::printf("P: %s\nR: %s\nN: %d\n", figures_text(s.p, sep).c_str(), figures_text(s.r, sep).c_str(),
                    table.VisibleCount());
    }
    table.Close();
    return 0;
}

} // namespace ulen3
