// ulen3-cli export as a script uses it: pages beyond the .xls sheet go to .xlsx and CSV with the
// titles, values and types that `ulen3-cli dump` shows; the options choose rows, order and the
// CSV's style; a wrong option writes nothing and says why.

#include "base/File.h"
#include "support/TableFixture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ulen3;
using namespace ulen3::test;

namespace {

const std::string kSheets = std::string("/usr/bin/python3 ") + ULEN3_TESTS_DIR + "/sheets.py ";

class ExportCommandTest : public TableFixture {
protected:
    std::string cli(const std::string& arguments, int& status) {
        return run_command("timeout 60 " + std::string(ULEN3_CLI) + " " + arguments + " 2>&1", &status);
    }
    // A table of `count` observations with every field a download fills.
    std::string tableOf(int count) {
        const std::string path = createTable();
        table.Open(path);
        for (int i = 1; i <= count; ++i) {
            table.Append();
            table.SetNumber(Field::N, i);
            table.SetText(Field::DATE, "05.03.2026");
            table.SetText(Field::TIME, "12:34:56");
            table.SetInteger(Field::NB_TYPE, 0);
            table.SetNumber(Field::P, (i * 7919 % 100000) / 100.0 - 300);
            table.SetNumber(Field::R, (i % 977) * 0.37);
            table.SetNumber(Field::H, i % 1000);
            table.SetText(Field::T, std::to_string(i % 50) + ",5");
            table.SetText(Field::COMMENT, i % 3 ? "" : "Проба №" + std::to_string(i) + ", \"ок\"");
            table.Post();
        }
        table.Close();
        return path;
    }
    std::string dumped(const std::string& path, const std::string& options = "") {
        const std::string out = dir.file("dump.csv");
        run_command(std::string(ULEN3_CLI) + " dump " + path + " " + options + " > " + out);
        return out;
    }
};

// 65,536 records: the .xls sheet refuses them and says to use .xlsx, which holds them all as
// dump shows them; so does the CSV.
TEST_F(ExportCommandTest, APageBeyondTheXlsSheetGoesToXlsxAndCsv) {
    const std::string path = tableOf(65536);
    int status = -1;
    const std::string xls = dir.file("big.xls");
    EXPECT_NE(cli("export " + path + " " + xls, status).find("используйте .xlsx"), std::string::npos);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(file_exists(xls));
    const std::string dump = dumped(path);
    for (const char* name : {"big.xlsx", "big.csv"}) {
        const std::string out = dir.file(name);
        EXPECT_EQ(cli("export " + path + " " + out, status),
                  "Экспорт в файл " + std::string(name) + " завершен успешно. Записей: 65536.\n");
        EXPECT_EQ(status, 0);
        EXPECT_EQ(run_command(kSheets + "same " + out + " dump:" + dump + " 2>&1"), "same\n") << name;
    }
}

TEST_F(ExportCommandTest, TwoHundredThousandRecordsToXlsxAsDumpShowsThem) {
    const std::string path = tableOf(200000);
    const std::string out = dir.file("all.xlsx");
    int status = -1;
    cli("export " + path + " " + out, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(run_command(kSheets + "same " + out + " dump:" + dumped(path) + " 2>&1"), "same\n");
}

TEST_F(ExportCommandTest, OptionsChooseRowsOrderAndStyle) {
    const std::string path = tableOf(12);
    int status = -1;
    const std::string csv = dir.file("chosen.csv");
    // Rows 1, 3 and 5 to 6 of the page sorted by P descending, in that order.
    EXPECT_EQ(cli("export " + path + " " + csv + " --sort P --desc --rows 5-6,3,1 --sep tab --decimal ,", status),
              "Экспорт в файл chosen.csv завершен успешно. Записей: 4.\n");
    const std::string sorted = run_command(std::string(ULEN3_CLI) + " dump " + path +
                                           " --sort P --desc | cut -d, -f1 | sed -n '2p;4p;6p;7p' | tr '\\n' ' '");
    EXPECT_EQ(run_command(kSheets + "column " + csv + " 0 '\t' , | tr '\\n' ' '"), sorted);
    const auto bytes = read_file(csv);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("\t05.03.2026\t12:34:56\t"), std::string::npos);
    const std::string data = text.substr(text.find('\n'));
    EXPECT_EQ(std::count(data.begin(), data.end(), '.'), 4 * 2)
        << "only the dates' points: the decimal mark is a comma";

    struct Refusal {
        std::string arguments, said;
    };
    const std::string out = dir.file("out");
    for (const Refusal& r : std::vector<Refusal>{
             {path + " " + out + ".ods", "тип файла «" + out + ".ods» не известен: выберите .xls, .xlsx или .csv"},
             {path + " " + out + ".xlsx --sep ';'", "--sep и --decimal задают вид файла .csv, а не книги"},
             {path + " " + out + ".csv --rows 13", "«13» в списке строк «13» — не номер строки"},
             {path + " " + out + ".csv --sep , --decimal ,", "разделитель полей «,» спутать с числом"},
             {path + " " + out + ".csv --sep ab", "разделитель полей --sep — один знак или tab"},
             {path + " " + out + ".csv --decimal x", "десятичный знак --decimal — «.» или «,»"},
             {path + " " + out + ".csv --sort NOPE", "NOPE"},
         }) {
        const std::string said = cli("export " + r.arguments, status);
        EXPECT_EQ(status, 1) << r.arguments;
        EXPECT_NE(said.find(r.said), std::string::npos) << r.arguments << "\n" << said;
    }
    EXPECT_EQ(run_command("ls " + dir.path() + " | grep -c '^out' || true"), "0\n");
}

} // namespace
