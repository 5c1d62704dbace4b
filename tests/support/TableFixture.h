#pragma once

#include "support/TempDir.h"
#include "table/ObservationTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ulen3::test {

// A table file in a fresh folder, with header writes dated 9 December 2026.
class TableFixture : public ::testing::Test {
protected:
    static constexpr HeaderDate kDate{126, 12, 9};

    TableFixture() {
        table.SetToday([] { return kDate; });
    }

    std::string createTable(const std::string& name = "survey.db") {
        const std::string path = dir.file(name);
        table.CreateEmpty(path);
        return path;
    }

    // Appends records with N = 1..count, P = given values, NB_TYPE 0.
    void appendRecords(const std::vector<double>& ps) {
        for (size_t i = 0; i < ps.size(); ++i) {
            table.Append();
            table.SetNumber(Field::N, static_cast<double>(i + 1));
            table.SetInteger(Field::NB_TYPE, 0);
            table.SetNumber(Field::P, ps[i]);
            table.Post();
        }
    }

    // Appends one record as the reports show it, dated 05.03.2006.
    void addReportRecord(double n, double p, double r, double h, const std::string& t = "",
                         const std::string& comment = "", int kind = 0) {
        table.Append();
        table.SetNumber(Field::N, n);
        table.SetInteger(Field::NB_TYPE, kind);
        table.SetNumber(Field::P, p);
        table.SetNumber(Field::R, r);
        table.SetNumber(Field::H, h);
        table.SetText(Field::T, t);
        table.SetText(Field::COMMENT, comment);
        table.SetText(Field::DATE, "05.03.2006");
        table.Post();
    }

    // The N of each record of the view, in view order.
    std::vector<int> viewNumbers() {
        std::vector<int> out;
        for (table.First(); !table.Eof(); table.Next())
            out.push_back(table.Integer(Field::N));
        return out;
    }

    // Whether a temporary file of the program's own (".NAME.ulen3-…") is left in the folder.
    bool temporariesLeft() const {
        return run_command("ls -A '" + dir.path() + "' | grep -c '\\.ulen3-' || true") != "0\n";
    }

    TempDir dir;
    ObservationTable table;
};

} // namespace ulen3::test
