// `ulen3-cli stats --json` and `ulen3-cli chart` as a script would run them, their files read back
// by independent readers (rsvg-convert, pdfinfo, the PNG header).

#include "support/TableFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

class ChartCommandTest : public TableFixture {
protected:
    std::string path;
    void SetUp() override {
        path = createTable();
        table.Open(path);
        for (int i = 0; i < 300; ++i) {
            table.Append();
            table.SetNumber(Field::N, i + 1);
            table.SetInteger(Field::NB_TYPE, 0);
            table.SetNumber(Field::P, i % 50);
            table.SetNumber(Field::R, -i * 0.25);
            table.SetText(Field::DATE, i == 7 ? "32.01.2024" : "01.03.2024");
            table.SetText(Field::TIME, "10:00:00");
            table.Post();
        }
        table.Close();
    }
    std::string cli(const std::string& arguments, int& status) {
        return run_command("timeout 60 " + std::string(ULEN3_CLI) + " " + arguments + " 2>&1", &status);
    }
};

// A PNG's width and height from its header.
std::pair<int, int> png_size(const std::string& file) {
    const auto b = read_file(file);
    if (b.size() < 24)
        return {0, 0};
    auto be32 = [&](size_t at) { return (b[at] << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3]; };
    return {be32(16), be32(20)};
}

TEST_F(ChartCommandTest, PicturesAtTheAskedSizeReadBackByOtherPrograms) {
    int status = -1;
    const std::string png = dir.file("c.png"), svg = dir.file("c.svg"), pdf = dir.file("c.pdf");
    const std::string written = cli("chart " + path + " " + png + " --width 640 --height 400", status);
    EXPECT_NE(written.find("График записан в " + png + ": записей 300\n"), std::string::npos) << written;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(png_size(png), std::make_pair(640, 400));

    const std::string said = cli("chart " + path + " " + svg + " --x time --width 900 --height 500", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(said.find("Записи без читаемых даты и времени не показаны: 1."), std::string::npos) << said;
    EXPECT_EQ(run_command("rsvg-convert " + svg + " -o " + dir.file("svg.png") + " 2>&1", &status), "");
    EXPECT_EQ(png_size(dir.file("svg.png")), std::make_pair(900, 500));

    cli("chart " + path + " " + pdf, status);
    EXPECT_EQ(status, 0);
    const std::string info = run_command("pdfinfo " + pdf);
    EXPECT_NE(info.find("Pages:           1"), std::string::npos) << info;
    EXPECT_NE(info.find("842 x 595 pts (A4)"), std::string::npos) << info; // landscape
    const std::string text = run_command("pdftotext " + pdf + " -");
    EXPECT_NE(text.find("Наблюдения — survey.db"), std::string::npos) << text;
}

TEST_F(ChartCommandTest, RefusesWhatItCannotWriteAndKeepsTheTable) {
    const auto before = read_file(path);
    int status = -1;
    EXPECT_NE(cli("chart " + path + " " + dir.file("c.bmp"), status).find("нужен .png, .svg или .pdf"),
              std::string::npos);
    EXPECT_EQ(status, 1);
    const std::string onTable = cli("chart " + path + " " + dir.file("survey.db"), status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(onTable.find("График не записан"), std::string::npos) << onTable;
    EXPECT_EQ(cli("chart " + path + " " + dir.file("c.png") + " --width 5", status).find("ulen3-cli: "), 0u);
    EXPECT_EQ(cli("chart " + path + " " + dir.file("c.png") + " --x sideways", status).find("Использование"), 0u);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(read_file(path), before);
}

TEST_F(ChartCommandTest, StatsJsonIsOneObjectWithNullWhereUndefined) {
    int status = -1;
    const std::string json = cli("stats " + path + " --json --page operative", status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(json,
              "{\"page\":\"operative\",\"count\":0,\"P\":{\"min\":null,\"max\":null,\"mean\":null,\"median\":null,"
              "\"stdev\":null,\"cv\":null,\"range\":null,\"empty\":0},\"R\":{\"min\":null,\"max\":null,"
              "\"mean\":null,\"median\":null,\"stdev\":null,\"cv\":null,\"range\":null,\"empty\":0}}\n");
    const std::string plain = cli("stats " + path, status);
    EXPECT_EQ(plain.substr(0, 3), "P: ");
}

} // namespace
