#include "support/TableFixture.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ulen3;
using namespace ulen3::test;

namespace {

// Prints every record as "deleted|N|DATE|P|NB_TYPE|COMMENT", empty values as "-".
const char* kDbfread = R"PY(
import sys
from dbfread import DBF
t = DBF(sys.argv[1], encoding='cp1251', load=True)
def show(v):
    return '-' if v is None or v == '' else ('%g' % v if isinstance(v, float) else str(v))
rows = [(True, r) for r in t.deleted] + [(False, r) for r in t.records]
rows.sort(key=lambda x: x[1]['N'] or 0)
for d, r in rows:
    print('|'.join([str(int(d))] + [show(r[k]) for k in ('N', 'DATE', 'P', 'NB_TYPE', 'COMMENT')]))
)PY";

const char* kXbase = R"PL(
use XBase;
binmode STDOUT, ':encoding(UTF-8)';
use Encode;
my $t = XBase->new(name => $ARGV[0], ignorememo => 1) or die XBase->errstr;
my @rows;
for my $i (0 .. $t->last_record) {
    my @v = $t->get_record($i, 'N', 'DATE', 'P', 'NB_TYPE', 'COMMENT');
    my $d = shift @v;
    @v = map { !defined($_) || $_ eq '' ? '-' : $_ } @v;
    $v[0] = $v[0] + 0; $v[2] = $v[2] eq '-' ? '-' : $v[2] + 0;
    $v[3] = $v[3] eq '-' ? '-' : $v[3] + 0;
    $v[4] = decode('cp1251', $v[4]) unless $v[4] eq '-';
    push @rows, [$v[0], join('|', $d, @v)];
}
print "$_->[1]\n" for sort { $a->[0] <=> $b->[0] } @rows;
)PL";

} // namespace

using Interop = TableFixture;

TEST_F(Interop, IndependentReadersSeeTheSameRecords) {
    const std::string path = createTable();
    table.Open(path);
    const struct {
        double p;
        bool emptyP;
        int kind;
        const char* comment;
    } rows[] = {{12.5, false, 0, "Плита, ось Б"},
                {0, true, 1, "ёжик Ёж"},
                {-3.25, false, 0, ""},
                {100000, false, 0, "удалить"}};
    for (int i = 0; i < 4; ++i) {
        table.Append();
        table.SetNumber(Field::N, i + 1);
        table.SetText(Field::DATE, "0" + std::to_string(i + 1) + ".12.2026");
        if (!rows[i].emptyP)
            table.SetNumber(Field::P, rows[i].p);
        table.SetInteger(Field::NB_TYPE, rows[i].kind);
        table.SetText(Field::COMMENT, rows[i].comment);
        table.Post();
    }
    table.Last();
    table.Delete();
    table.Close();

    const std::string expected = "0|1|01.12.2026|12.5|0|Плита, ось Б\n"
                                 "0|2|02.12.2026|-|1|ёжик Ёж\n"
                                 "0|3|03.12.2026|-3.25|0|-\n"
                                 "1|4|04.12.2026|100000|0|удалить\n";
    const std::string py = dir.file("read.py");
    const std::string pl = dir.file("read.pl");
    write_file(py, std::vector<unsigned char>(kDbfread, kDbfread + std::strlen(kDbfread)));
    write_file(pl, std::vector<unsigned char>(kXbase, kXbase + std::strlen(kXbase)));
    int status = -1;
    EXPECT_EQ(run_command("/usr/bin/python3 " + py + " " + path, &status), expected);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(run_command("perl " + pl + " " + path, &status), expected);
    EXPECT_EQ(status, 0);
}
