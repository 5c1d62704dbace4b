// The report templates and the engine, read back from our PDFs by poppler's pdftotext.

#include "print/ReportEngine.h"
#include "print/Reports.h"
#include "support/TableFixture.h"

#include <QRectF>

#include <gtest/gtest.h>

#include <regex>

using namespace ulen3;
using namespace ulen3::test;

namespace {

struct Word {
    double x0, y0, x1, y1; // millimetres from the sheet's top left corner
    std::string text;
    double cx() const { return (x0 + x1) / 2; }
    double cy() const { return (y0 + y1) / 2; }
};

// The words of one sheet as poppler finds them, with their boxes in millimetres.
std::vector<Word> pdf_words(const std::string& pdf, int page) {
    const std::string xml = run_command("pdftotext -bbox -f " + std::to_string(page) + " -l " + std::to_string(page) +
                                        " '" + pdf + "' - 2>/dev/null");
    static const std::regex word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    std::vector<Word> out;
    const double mm = 25.4 / 72;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), word); it != std::sregex_iterator(); ++it)
        out.push_back({std::stod((*it)[1]) * mm, std::stod((*it)[2]) * mm, std::stod((*it)[3]) * mm,
                       std::stod((*it)[4]) * mm, (*it)[5]});
    return out;
}

const Word* find(const std::vector<Word>& words, const std::string& text, int nth = 0) {
    for (const Word& w : words)
        if (w.text == text && nth-- == 0)
            return &w;
    return nullptr;
}

int pdf_pages(const std::string& pdf) {
    const std::string info = run_command("pdfinfo '" + pdf + "' 2>/dev/null");
    std::smatch m;
    return std::regex_search(info, m, std::regex(R"re(Pages:\s+(\d+))re")) ? std::stoi(m[1]) : -1;
}

constexpr double kMm = 5.0 / 18.0; // one layout unit

class ReportTest : public TableFixture {
protected:
    void SetUp() override { table.Open(createTable()); }
    std::string pdf(PageKind page, const std::string& name = "report.pdf") {
        table.SetFilter(page_definition(page).filter);
        prepared = prepare_report(report_template(page), table.Records(), ",");
        const std::string path = dir.file(name);
        write_pdf(prepared, QString::fromStdString(path), "survey");
        return path;
    }
    PreparedReport prepared;
};

TEST_F(ReportTest, BothTemplatesCarryThePartsFiguresAndLookAlikes) {
    for (PageKind page : {PageKind::Observation, PageKind::Operative}) {
        const ReportTemplate t = report_template(page);
        EXPECT_NEAR(t.paperWidth * kMm, 297, 1e-9);
        EXPECT_NEAR(t.paperHeight * kMm, 210, 1e-9);
        EXPECT_EQ(t.marginLeft, 72);
        EXPECT_EQ(t.marginTop, 25);
        EXPECT_EQ(t.marginBottom, 25);
        EXPECT_EQ(t.fontFamily, "Arial");
        const bool obs = page == PageKind::Observation;
        EXPECT_EQ(t.band(BandKind::Title)->height, 64);
        EXPECT_EQ(t.band(BandKind::Header)->height, 60);
        EXPECT_EQ(t.band(BandKind::Data)->height, obs ? 55 : 40);
        EXPECT_EQ(t.band(BandKind::Footer)->height, 20);
        EXPECT_EQ(t.band(BandKind::Title)->objects[0].text, obs ? "Наблюдения" : "Наблюдение");
        EXPECT_EQ(t.band(BandKind::Title)->objects[0].w, obs ? 295 : 333);
        const auto& header = t.band(BandKind::Header)->objects;
        const auto& data = t.band(BandKind::Data)->objects;
        ASSERT_EQ(header.size(), 9u);
        const double lefts[] = {72, 152, 213, 293, 359, 434, 514, 623, 732};
        const double widths[] = {80, 61, 80, 66, 75, 80, 109, 109, 189};
        for (int i = 0; i < 9; ++i) {
            EXPECT_EQ(header[i].x, lefts[i]);
            EXPECT_EQ(header[i].w, widths[i]);
            EXPECT_EQ(data[i].x, lefts[i]);
            EXPECT_EQ(header[i].size, 12);
            EXPECT_TRUE(header[i].bold);
            EXPECT_EQ(data[i].size, 10);
            EXPECT_EQ(data[i].frame, 1);
        }
        EXPECT_EQ(header[0].h, obs ? 60 : 57);
        EXPECT_EQ(data[0].y, obs ? 1 : 0);
        EXPECT_EQ(data[0].h, obs ? 53 : 40);
        // Latin T with a Cyrillic С; Cyrillic Т twice; a Latin Q.
        EXPECT_EQ(header[4].text, obs ? "T\u043d, \u00b0\u0421" : "T\u0432, \u00b0\u0421");
        EXPECT_EQ(header[5].text, obs ? "T\u0432, \u00b0\u0421" : "T\u043d, \u00b0\u0421");
        EXPECT_EQ(header[6].text, "\u0422\u0432-\u0422\u043d, \u00b0\u0421");
        EXPECT_EQ(header[7].text, "Q, \u0412\u0442/\u043a\u0432.\u043c");
        EXPECT_EQ(data[6].text, obs ? "[Dbf1.\"H\"]" : "[Dbf1.\"T\"]");
        EXPECT_EQ(data[7].text, obs ? "[Dbf1.\"T\"]" : "[Dbf1.\"H\"]");
        EXPECT_EQ(data[4].format, CellFormat::TwoDecimals);
        EXPECT_EQ(t.band(BandKind::Footer)->objects[0].text, "Стр. [PAGE#] из [TOTALPAGES]");
    }
    EXPECT_THROW(parse_report_template("paper A4 landscape\nband data 10\n  text 1 2 3: x\n"), ReportError);
}

TEST_F(ReportTest, AnEmptyPagePrintsTitleColumnTitlesAndOneSheetNumber) {
    const std::string path = pdf(PageKind::Observation);
    EXPECT_EQ(pdf_pages(path), 1);
    const auto words = pdf_words(path, 1);
    EXPECT_NE(find(words, "Наблюдения"), nullptr);
    for (const char* title : {"Серия", "N", "Дата", "Время", "Примечание"})
        EXPECT_NE(find(words, title), nullptr) << title;
    const Word* page = find(words, "Стр.");
    ASSERT_NE(page, nullptr);
    EXPECT_NE(find(words, "1"), nullptr);
    EXPECT_NE(find(words, "из"), nullptr);
}

// Where the Part puts them, within half a millimetre: the title's left and top, every column
// title's and the first row's cell centres.
TEST_F(ReportTest, TextsStandWhereTheTemplatePutsThem) {
    addReportRecord(7, 12.5, 3.25, 12.5, "q1", "Плита");
    const std::string path = pdf(PageKind::Observation);
    const auto words = pdf_words(path, 1);
    const Word* title = find(words, "Наблюдения");
    ASSERT_NE(title, nullptr);
    EXPECT_NEAR(title->x0, 72 * kMm, 0.5);
    EXPECT_NEAR(title->y0, 25 * kMm, 0.5);
    const double lefts[] = {72, 152, 213, 293, 359, 434, 514, 623, 732};
    const double widths[] = {80, 61, 80, 66, 75, 80, 109, 109, 189};
    const char* titles[] = {"Серия", "N",         "Дата", "Время", "T\u043d,", "T\u0432,", "\u0422\u0432-\u0422\u043d,",
                            "Q,",    "Примечание"};
    const double headerMiddle = (25 + 64 + 1 + 30) * kMm;
    for (int i = 0; i < 9; ++i) {
        const Word* w = find(words, titles[i]);
        ASSERT_NE(w, nullptr) << titles[i];
        if (i < 4 || i == 8) { // one-word titles: their centre is the column's
            EXPECT_NEAR(w->cx(), (lefts[i] + widths[i] / 2) * kMm, 0.5) << titles[i];
        }
        EXPECT_NEAR(w->cy(), headerMiddle, 0.5) << titles[i];
    }
    const double rowMiddle = (25 + 64 + 60 + 1 + 26.5) * kMm;
    const char* cells[] = {"", "7", "05.03.2006", "", "12,50", "3,25", "12,5", "q1", "Плита"};
    for (int i = 0; i < 9; ++i) {
        if (!*cells[i])
            continue;
        const Word* w = find(words, cells[i]);
        ASSERT_NE(w, nullptr) << cells[i];
        EXPECT_NEAR(w->cx(), (lefts[i] + widths[i] / 2) * kMm, 0.5) << cells[i];
        EXPECT_NEAR(w->cy(), rowMiddle, 0.5) << cells[i];
    }
    EXPECT_EQ(find(words, "12,50", 1), nullptr); // H prints its own text, not two decimals
}

TEST_F(ReportTest, TheOperativeReportSwapsTitlesAndData) {
    addReportRecord(1, 12.5, 2, 12.5, "tt", "", 1);
    const std::string path = pdf(PageKind::Operative);
    const auto words = pdf_words(path, 1);
    EXPECT_NE(find(words, "Наблюдение"), nullptr);
    const Word* p = find(words, "12,50");
    const Word* tv = find(words, "T\u0432,");
    ASSERT_TRUE(p && tv);
    EXPECT_NEAR(p->cx(), (359 + 37.5) * kMm, 0.5); // P under "Tв, °С"
    EXPECT_LT(tv->x0, (359 + 75) * kMm);
    const Word* t = find(words, "tt");
    const Word* h = find(words, "12,5");
    ASSERT_TRUE(t && h);
    EXPECT_NEAR(t->cx(), (514 + 54.5) * kMm, 0.5); // T under "Тв-Тн, °С"
    EXPECT_NEAR(h->cx(), (623 + 54.5) * kMm, 0.5); // H under "Q, Вт/кв.м"
    EXPECT_NEAR(find(words, "2,00")->cy(), (25 + 64 + 60 + 0 + 20) * kMm, 0.5);
}

TEST_F(ReportTest, TwoDecimalsRoundHalvesAwayFromZeroAlwaysWithAComma) {
    EXPECT_EQ(two_decimals("12.500000000"), "12,50");
    EXPECT_EQ(two_decimals("12.345000000"), "12,35");
    EXPECT_EQ(two_decimals("-0.004000000"), "0,00");
    EXPECT_EQ(two_decimals("-2.995000000"), "-3,00");
    EXPECT_EQ(two_decimals("99.999"), "100,00");
    EXPECT_EQ(two_decimals("7"), "7,00");
    EXPECT_EQ(two_decimals("abc"), "0,00");
}

TEST_F(ReportTest, ALongCommentWrapsAndMakesItsRowTallerWithoutOverlap) {
    std::string comment;
    while (comment.size() < 300)
        comment += "плита ";
    addReportRecord(1, 1, 1, 1, "", comment.substr(0, 100)); // the field keeps 100 bytes
    addReportRecord(2, 1, 1, 1);
    table.SetFilter("NB_TYPE=0");
    // The field holds 100 characters; a report text of 300 is laid out the same way.
    ReportTemplate t = report_template(PageKind::Observation);
    t.bands[2].objects[8].text = comment;
    prepared = prepare_report(t, table.Records(), ",");
    const auto texts = prepared.texts(0);
    // Title, 9 column titles, then the rows of 9 cells each, then the sheet number.
    const auto& first = texts[10 + 8];
    const auto& second = texts[10 + 9];
    EXPECT_GT(first.box.height(), 53);
    EXPECT_GE(second.box.top(), first.box.bottom());
    EXPECT_EQ(texts[10].box.height(), first.box.height()); // the whole row grows
}

// A word wider than its cell (a comment without spaces, a long q, a large P) breaks between
// characters and the row grows: in the PDF every character is there, inside its own cell.
TEST_F(ReportTest, AWordWiderThanItsCellBreaksAndStaysInside) {
    std::string comment, t;
    for (int i = 0; i < 100; ++i)
        comment += static_cast<char>('A' + i % 26);
    for (int i = 0; i < 50; ++i)
        t += static_cast<char>('0' + i % 10);
    addReportRecord(1, 99999999.99, 1, 1, t, comment);
    const std::string path = pdf(PageKind::Observation);
    const auto texts = prepared.texts(0);
    const auto words = pdf_words(path, 1);
    int checked = 0;
    for (const auto& placed : texts) {
        const std::string text = placed.text.toStdString();
        if (text != comment && text != t && placed.text != "99999999,99" && placed.text != "99999999,9")
            continue;
        const QRectF cell(placed.box.x() * kMm, placed.box.y() * kMm, placed.box.width() * kMm,
                          placed.box.height() * kMm);
        std::string shown;
        for (const Word& w : words) {
            if (!cell.contains(w.cx(), w.cy()))
                continue;
            shown += w.text;
            EXPECT_GE(w.x0, cell.left() - 0.2) << w.text;
            EXPECT_LE(w.x1, cell.right() + 0.2) << w.text;
            EXPECT_LE(w.y1, cell.bottom() + 0.2) << w.text;
            EXPECT_LE(w.x1, 297.0) << w.text;
        }
        EXPECT_EQ(shown, text);
        ++checked;
    }
    EXPECT_EQ(checked, 3);
}

TEST_F(ReportTest, SheetsCountWithEveryOneCarryingTheTotal) {
    // The first sheet holds (711 − 149) ÷ 55 = 10 rows, each further one (711 − 85) ÷ 55 = 11.
    const std::pair<int, int> cases[] = {{0, 1}, {1, 1}, {10, 1}, {11, 2}, {21, 2}, {22, 3}};
    int have = 0;
    for (const auto& [records, sheets] : cases) {
        for (; have < records; ++have)
            addReportRecord(have + 1, have, have, have);
        const std::string path = pdf(PageKind::Observation, "count.pdf");
        EXPECT_EQ(prepared.sheetCount(), sheets) << records;
        EXPECT_EQ(pdf_pages(path), sheets) << records;
        for (int s = 1; s <= sheets; ++s) {
            const auto words = pdf_words(path, s);
            const Word* of = find(words, "из");
            ASSERT_NE(of, nullptr);
            EXPECT_NE(find(words, std::to_string(sheets)), nullptr);
        }
    }
}

} // namespace

namespace {} // namespace
