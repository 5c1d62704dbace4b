// The memory image decoder: record conversions, bounds, create and append.

#include "SampleImage.h"
#include "decode/ImageDecoder.h"
#include "support/Emulator.h"
#include "support/TableFixture.h"

#include <gtest/gtest.h>

#include <fstream>

#include <cstring>

using namespace ulen3;
using namespace ulen3::test;

namespace {

// An instrument record; times are given as seconds after 01.06.2024 00:00:00.
struct Rec {
    unsigned h = 150, diameter = 500, a = 0, b = 0;
    std::uint32_t r = 12000, p = 2500;
    std::uint8_t time[6] = {0, 0, 0, 1, 6, 24}; // s, min, h, day, month, year − 2000
};

Rec at(unsigned secondsAfterMidnight, unsigned day = 1) {
    Rec rec;
    rec.time[0] = secondsAfterMidnight % 60;
    rec.time[1] = secondsAfterMidnight / 60 % 60;
    rec.time[2] = secondsAfterMidnight / 3600;
    rec.time[3] = static_cast<std::uint8_t>(day);
    return rec;
}

void put16(std::vector<unsigned char>& out, unsigned v) {
    out.push_back(v & 0xFF);
    out.push_back(v >> 8 & 0xFF);
}

std::vector<unsigned char> image_of(const std::vector<Rec>& s1, const std::vector<Rec>& s2) {
    std::vector<unsigned char> out;
    for (const auto* section : {&s1, &s2}) {
        put16(out, section->size());
        for (const Rec& r : *section) {
            put16(out, r.h);
            put16(out, r.r & 0xFFFF), put16(out, r.r >> 16);
            put16(out, r.p & 0xFFFF), put16(out, r.p >> 16);
            put16(out, r.diameter), put16(out, r.a), put16(out, r.b);
            out.insert(out.end(), r.time, r.time + 6);
        }
    }
    return out;
}

// Section 1 records at 08:00, 08:01, …; section 2 records at 12:00, 12:01, …
std::vector<unsigned char> timed_image(unsigned count1, unsigned count2) {
    std::vector<Rec> s1, s2;
    for (unsigned i = 0; i < count1; ++i)
        s1.push_back(at(8 * 3600 + 60 * i));
    for (unsigned i = 0; i < count2; ++i) {
        s2.push_back(at(12 * 3600 + 60 * i));
        s2.back().diameter = 0, s2.back().a = s2.back().b = 1000;
    }
    return image_of(s1, s2);
}

// What the window shows after an append: one message per section.
struct Messages {
    std::vector<std::string> shown;
    void show(const DecodeResult& r) {
        for (unsigned added : r.added)
            shown.push_back(added_text(added));
    }
};

class DecoderTest : public TableFixture {
protected:
    Messages messages;
    std::string path;

    void SetUp() override {
        path = createTable();
        table.Open(path);
    }

    void decode(const std::vector<unsigned char>& image, bool append, char sep = '.', std::uint16_t serial = 1234,
                std::uint8_t code = 0x21) {
        const DecodeResult r = flash2ulen3(table, {image.data(), image.size(), code, serial}, append, sep);
        if (append)
            messages.show(r);
    }

    // Every live record, in file order: "N|DATE|TIME|TYPE".
    std::vector<std::string> rows() {
        table.SetFilter("");
        table.Refresh();
        std::vector<std::string> out;
        for (table.First(); !table.Eof(); table.Next())
            out.push_back(std::to_string(table.Integer(Field::N)) + "|" + table.Text(Field::DATE) + "|" +
                          table.Text(Field::TIME) + "|" + table.Text(Field::TYPE));
        return out;
    }

    void addTableRecord(const std::string& date, const std::string& time, const std::string& type, int kind = 0,
                        double serial = 1234) {
        table.Append();
        table.SetText(Field::DATE, date);
        table.SetText(Field::TIME, time);
        table.SetText(Field::TYPE, type);
        table.SetInteger(Field::DEV_TYPE, 0x21);
        table.SetNumber(Field::SERIAL, serial);
        table.SetInteger(Field::NB_TYPE, kind);
        table.Post();
    }
};

TEST(DecoderTexts, TimeDateAndNumberTexts) {
    const std::uint8_t t1[] = {0x1E, 0x0F, 0x0A};
    EXPECT_EQ(time_text(t1), "10:15:30");
    const std::uint8_t t2[] = {0x3C, 0x00, 0x18}; // 60 s, 0 min, 24 h
    EXPECT_EQ(time_text(t2), "00:00:00");
    const std::uint8_t t3[] = {59, 59, 23};
    EXPECT_EQ(time_text(t3), "23:59:59");
    const std::uint8_t d1[] = {0x05, 0x03, 0x06};
    EXPECT_EQ(date_text(d1), "05.03.2006");
    const std::uint8_t d2[] = {0x00, 0x0D, 0x07};
    EXPECT_EQ(date_text(d2), "01.01.2007");
    const std::uint8_t d3[] = {32, 12, 255};
    EXPECT_EQ(date_text(d3), "01.12.2255");

    EXPECT_EQ(float_text(100, ','), "100");
    EXPECT_EQ(float_text(50.5, ','), "50,5");
    EXPECT_EQ(float_text(50.5, '.'), "50.5");
    EXPECT_EQ(float_text(6553.5, '.'), "6553.5");
    EXPECT_EQ(float_text(0.1, '.'), "0.1");
    EXPECT_EQ(float_text(0, '.'), "0");
}

TEST(DecoderTexts, StampSeconds) {
    // The earliest moment the instrument can store still has a key above 0.
    EXPECT_GT(stamp_seconds("01.01.2000", "00:00:00"), 0);
    EXPECT_EQ(stamp_seconds("02.01.2000", "00:00:00") - stamp_seconds("01.01.2000", "00:00:00"), 86400);
    EXPECT_EQ(stamp_seconds("01.03.2024", "00:00:00") - stamp_seconds("28.02.2024", "23:59:59"),
              86401); // 29.02.2024 exists
    EXPECT_LT(stamp_seconds("31.12.2005", "23:59:59"), stamp_seconds("01.01.2006", "00:00:00"));
    EXPECT_EQ(stamp_seconds(" 5.3.2006", "7:05:00"), stamp_seconds("05.03.2006", "07:05:00"));
    for (const auto& [date, time] : std::vector<std::pair<std::string, std::string>>{{"31.04.2006", "10:00:00"},
                                                                                     {"29.02.2023", "10:00:00"},
                                                                                     {"00.01.2006", "10:00:00"},
                                                                                     {"01.13.2006", "10:00:00"},
                                                                                     {"01.01.2006", "24:00:00"},
                                                                                     {"01.01.2006", "10:60:00"},
                                                                                     {"", ""},
                                                                                     {"01.01.2006x", "10:00:00"},
                                                                                     {"01-01-2006", "10:00:00"}}) {
        try {
            stamp_seconds(date, time);
            ADD_FAILURE() << date << " " << time;
        } catch (const DecodeError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + date + " " + time + "' is not a valid date and time");
        }
    }
}

TEST_F(DecoderTest, WorkedExample) {
    const std::vector<unsigned char> image = {0x01, 0x00, 0x96, 0x00, 0xE0, 0x2E, 0x00, 0x00, 0xC4,
                                              0x09, 0x00, 0x00, 0xF4, 0x01, 0x00, 0x00, 0x00, 0x00,
                                              0x1E, 0x0F, 0x0A, 0x05, 0x03, 0x06, 0x00, 0x00};
    decode(image, false, ',', 4660, 0x33);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(table.Filter(), "NB_TYPE=1");
    EXPECT_EQ(table.VisibleCount(), 0);
    table.SetFilter("");
    table.Refresh();
    ASSERT_EQ(table.VisibleCount(), 1);
    table.First();
    EXPECT_EQ(table.Number(Field::N), 1);
    EXPECT_EQ(table.Text(Field::TIME), "10:15:30");
    EXPECT_EQ(table.Text(Field::DATE), "05.03.2006");
    EXPECT_EQ(table.Number(Field::H), 15);
    EXPECT_EQ(table.Number(Field::R), 12);
    EXPECT_EQ(table.Number(Field::P), 2.5);
    EXPECT_EQ(table.Text(Field::TYPE), "диам. 50 мм");
    EXPECT_EQ(table.Integer(Field::DEV_TYPE), 0x33);
    EXPECT_EQ(table.Number(Field::SERIAL), 4660);
    EXPECT_EQ(table.Integer(Field::NB_TYPE), 0);
    EXPECT_FALSE(table.IsNull(Field::NB_TYPE));
    EXPECT_TRUE(table.IsNull(Field::ZAV));
    EXPECT_TRUE(table.IsNull(Field::COMMENT));
    EXPECT_TRUE(table.IsNull(Field::T));
}

TEST_F(DecoderTest, SectionTwoOnlyAndItsScales) {
    std::vector<Rec> s2(3, at(3600));
    s2[1].h = 1234, s2[1].r = 4567, s2[1].p = 89;
    s2[1].diameter = 777; // not read in section 2
    s2[1].a = 505, s2[1].b = 1000;
    decode(image_of({}, s2), false, '.');
    EXPECT_EQ(rows(),
              (std::vector<std::string>{"1|01.06.2024|01:00:00|AxB 0x0 мм", "2|01.06.2024|01:00:00|AxB 50.5x100 мм",
                                        "3|01.06.2024|01:00:00|AxB 0x0 мм"}));
    table.First();
    table.Next();
    EXPECT_DOUBLE_EQ(table.Number(Field::H), 12.34);
    EXPECT_DOUBLE_EQ(table.Number(Field::R), 45.67);
    EXPECT_DOUBLE_EQ(table.Number(Field::P), 0.89);
}

TEST_F(DecoderTest, PlateTextsFollowTheSeparatorAndTheFieldWidth) {
    Rec cube = at(0), rect = at(0);
    cube.diameter = 0, cube.a = 1000, cube.b = 1000;
    rect.a = 505, rect.b = 505;
    for (char sep : {',', '.'}) {
        const std::string s(1, sep);
        decode(image_of({cube}, {rect}), false, sep);
        const auto r = rows();
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0], "1|01.06.2024|00:00:00|куб 100x100 мм");
        // "AxB 50,5x50,5 мм" has 16 characters; the field keeps 15.
        EXPECT_EQ(r[1], "1|01.06.2024|00:00:00|AxB 50" + s + "5x50" + s + "5 м");
        table.Close();
        table.CreateEmpty(path);
        table.Open(path);
    }
}

TEST_F(DecoderTest, EmptySectionsAndAFullImage) {
    decode(image_of({}, {}), true);
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Добавлено записей: 0", "Добавлено записей: 0"}));
    EXPECT_TRUE(rows().empty());

    const auto image = sample_image({.count1 = 2000, .count2 = 978});
    ASSERT_EQ(image.size(), 4u + 22 * kMaxImageRecords);
    decode(image, false);
    const auto r = rows();
    ASSERT_EQ(r.size(), 2978u);
    EXPECT_EQ(r[0].substr(0, 2), "1|");
    EXPECT_EQ(r[1999].substr(0, 5), "2000|");
    EXPECT_EQ(r[2000].substr(0, 2), "1|");
    EXPECT_EQ(r[2977].substr(0, 4), "978|");
}

TEST_F(DecoderTest, AppendingTheSameImageAddsNothing) {
    const auto image = timed_image(10, 5);
    decode(image, false);
    decode(image, true);
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Добавлено записей: 0", "Добавлено записей: 0"}));
    EXPECT_EQ(table.Filter(), "NB_TYPE=1");
    EXPECT_EQ(rows().size(), 15u);
}

TEST_F(DecoderTest, AppendAddsOnlyTheNewRecordsNumberedOn) {
    decode(timed_image(10, 5), false);
    decode(timed_image(13, 7), true);
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Добавлено записей: 3", "Добавлено записей: 2"}));
    const auto r = rows();
    ASSERT_EQ(r.size(), 20u);
    EXPECT_EQ(r[15], "11|01.06.2024|08:10:00|диам. 50 мм");
    EXPECT_EQ(r[17], "13|01.06.2024|08:12:00|диам. 50 мм");
    EXPECT_EQ(r[18], "6|01.06.2024|12:05:00|AxB 100x100 мм");
    EXPECT_EQ(r[19], "7|01.06.2024|12:06:00|AxB 100x100 мм");
}

TEST_F(DecoderTest, AnotherInstrumentIsAppendedWhole) {
    const auto image = timed_image(4, 3);
    decode(image, false, '.', 1234);
    decode(image, true, '.', 999);
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Добавлено записей: 4", "Добавлено записей: 3"}));
    EXPECT_EQ(rows().size(), 14u);
}

TEST_F(DecoderTest, ReferenceComesOnlyFromRecordsThisDecoderWrites) {
    // Operative records, other plate texts and records without a valid date are no reference.
    addTableRecord("02.06.2024", "00:00:00", "диам. 50 мм", 1);
    addTableRecord("02.06.2024", "00:00:00", "ручной ввод");
    addTableRecord("31.04.2024", "10:00:00", "диам. 50 мм");
    addTableRecord("", "", "AxB 10x10 мм");
    // A section 1 record of this instrument at 08:02 is the reference of section 1 only.
    addTableRecord("01.06.2024", "08:02:00", "куб 100x100 мм");
    decode(timed_image(5, 2), true);
    EXPECT_EQ(messages.shown, (std::vector<std::string>{"Добавлено записей: 2", "Добавлено записей: 2"}));
    const auto r = rows();
    ASSERT_EQ(r.size(), 9u);
    EXPECT_EQ(r[5], "4|01.06.2024|08:03:00|диам. 50 мм");
    EXPECT_EQ(r[7], "1|01.06.2024|12:00:00|AxB 100x100 мм");
}

TEST_F(DecoderTest, ImpossibleImageDateIsRaisedBeforeAnythingIsWritten) {
    decode(timed_image(3, 3), false);
    const auto before = read_file(path);
    std::vector<Rec> s1(4, at(8 * 3600));
    s1[0].time[4] = 4, s1[0].time[3] = 31; // 31.04.2024
    try {
        decode(image_of(s1, {}), true);
        FAIL() << "no error";
    } catch (const DecodeError& e) {
        EXPECT_EQ(std::string(e.what()), "'31.04.2024 08:00:00' is not a valid date and time");
    }
    EXPECT_TRUE(messages.shown.empty());
    table.Close();
    EXPECT_EQ(read_file(path), before);
    // Created whole, nothing is scanned: the record is written with its date as it is.
    table.Open(path);
    decode(image_of(s1, {}), false);
    EXPECT_EQ(rows()[6], "1|31.04.2024|08:00:00|диам. 50 мм");
}

TEST_F(DecoderTest, ImageWhoseSectionsDoNotFitIsRefusedWhole) {
    decode(timed_image(2, 2), false);
    table.Close();
    const auto before = read_file(path);
    table.Open(path);
    auto image = timed_image(5, 5);
    const auto refuse = [&](const std::vector<unsigned char>& bytes, std::size_t size, const std::string& words) {
        try {
            flash2ulen3(table, {bytes.data(), size, 0x21, 1234}, true, '.');
            ADD_FAILURE() << "accepted " << size;
        } catch (const DecodeError& e) {
            EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("Записи не добавлены."), std::string::npos);
        }
    };
    // The download delivered fewer bytes than the sections need: the rest are leftovers.
    refuse(image, image.size() - 1, "разделы из 5 и 5 записей (224 байт) не помещаются в 223");
    refuse(image, 2 + 22 * 5 + 1, "раздел 1 из 5 записей не помещается в 113");
    refuse(image, 3, "принято только 3 байт");
    // Counts that point past the whole memory.
    std::vector<unsigned char> huge(65536, 0);
    huge[0] = 0xFF, huge[1] = 0xFF;
    refuse(huge, huge.size(), "раздел 1 из 65535 записей");
    huge[0] = 0x10, huge[1] = 0x00;
    huge[2 + 22 * 16] = 0xFF, huge[3 + 22 * 16] = 0x0F;
    refuse(huge, huge.size(), "разделы из 16 и 4095 записей");
    EXPECT_TRUE(messages.shown.empty());
    table.Close();
    EXPECT_EQ(read_file(path), before);
}

// A whole download, decoded by the command line, read back by an independent dBase reader and
// compared with the image decoded again in Python from its published layout.
const char* kCheck = R"PY(
import struct, sys
from dbfread import DBF
img = open(sys.argv[2], 'rb').read()
rows = list(DBF(sys.argv[1], encoding='cp1251'))
def num(v):
    return ('%.15g' % v)
expected, pos = [], 0
for section in (1, 2):
    count = struct.unpack_from('<H', img, pos)[0]; pos += 2
    for n in range(1, count + 1):
        h, r, p, d, a, b = struct.unpack_from('<HIIHHH', img, pos)
        s, mi, ho, dd, mo, yy = img[pos + 16:pos + 22]
        scale = 1000 if section == 1 else 100
        if section == 2: kind = 'AxB %sx%s мм' % (num(a / 10), num(b / 10))
        elif d: kind = 'диам. %s мм' % num(d / 10)
        else: kind = 'куб %sx%s мм' % (num(a / 10), num(b / 10))
        expected.append((n, '%02d.%02d.%04d' % (dd, mo, 2000 + yy), '%02d:%02d:%02d' % (ho, mi, s),
                         33, 4321, 0, r / scale, p / scale, h / (10 if section == 1 else 100), kind[:15]))
        pos += 22
got = [(int(x['N']), x['DATE'], x['TIME'], x['DEV_TYPE'], int(x['SERIAL']), x['NB_TYPE'],
        x['R'], x['P'], x['H'], x['TYPE']) for x in rows]
bad = [i for i, (e, g) in enumerate(zip(expected, got)) if e != g]
print(len(got), len(expected), 'mismatch at %s: %s != %s' % (bad[0], expected[bad[0]], got[bad[0]]) if bad else 'ok')
)PY";

TEST(DecoderEndToEnd, EmulatorDownloadDecodedTableReadsBackInDbfread) {
    TempDir dir;
    const std::string image = dir.file("image.bin");
    write_file(image, sample_image({.count1 = 700, .count2 = 300, .seed = 7}));
    Emulator emu(image, {"--serial", "4321", "--downloads", "1"});
    int status = -1;
    const std::string table = dir.file("survey.db");
    const std::string out = run_command(
        std::string(ULEN3_CLI) + " download --port " + emu.device() + " --table " + table + " 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Записей в таблице " + table + ": 1000"), std::string::npos) << out;
    const std::string py = dir.file("check.py");
    write_file(py, std::vector<unsigned char>(kCheck, kCheck + std::strlen(kCheck)));
    EXPECT_EQ(run_command("/usr/bin/python3 " + py + " " + table + " " + image + " 2>&1"), "1000 1000 ok\n");
}

// The command line refuses what it cannot use and leaves every file as it was.
TEST(DecoderEndToEnd, RefusedDownloadsAndExistingTablesChangeNothing) {
    TempDir dir;
    // A well-framed dump whose first section claims five records in twenty bytes.
    std::vector<unsigned char> bytes(20, 0);
    bytes[0] = 5;
    const std::string image = dir.file("bad.bin");
    write_file(image, bytes);
    Emulator emu(image, {"--downloads", "1"});
    int status = 0;
    const std::string table = dir.file("survey.db");
    std::string out = run_command(
        std::string(ULEN3_CLI) + " download --port " + emu.device() + " --table " + table + " 2>&1", &status);
    EXPECT_NE(status, 0) << out;
    EXPECT_NE(out.find("Образ памяти прибора повреждён"), std::string::npos) << out;
    EXPECT_FALSE(std::ifstream(table).good());
    // The demo does not replace a table that is there.
    write_file(table, {1, 2, 3});
    out = run_command(std::string(ULEN3_CLI) + " demo " + table + " 2>&1", &status);
    EXPECT_NE(status, 0) << out;
    EXPECT_EQ(read_file(table), (std::vector<unsigned char>{1, 2, 3}));
}

} // namespace
