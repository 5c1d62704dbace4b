// The document's state as the window hears of it: open, changed, saved, closed, and closed by a
// table that cannot be opened again.

#include "ui/Document.h"
#include "base/File.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace ulen3;

TEST(Document, TellsEveryChangeOfItsStateOnce) {
    test::TempDir dir;
    const std::string path = dir.file("survey.db");
    Document doc;
    std::vector<std::pair<bool, bool>> heard;
    doc.onStateChanged = [&] { heard.emplace_back(doc.isOpen(), doc.isChanged()); };
    doc.create(path);
    doc.markChanged();
    doc.markChanged(); // no change of state: nothing told
    doc.reopen();      // written back; the window says when the changes are saved
    doc.markSaved();
    doc.table().AddTag("TAG", "P", true);
    doc.table().SetIndexName("TAG");
    ASSERT_TRUE(file_exists(dir.file("survey.mdx")));
    doc.close();
    EXPECT_EQ(heard, (std::vector<std::pair<bool, bool>>{{true, false}, {true, true}, {true, false}, {false, false}}));
    EXPECT_FALSE(doc.table().Active());
    EXPECT_FALSE(file_exists(dir.file("survey.mdx")));
    EXPECT_TRUE(file_exists(path));
}

TEST(Document, ATableThatCannotBeOpenedAgainClosesTheDocument) {
    test::TempDir dir;
    const std::string path = dir.file("survey.db");
    Document doc;
    int told = 0;
    doc.onStateChanged = [&] { ++told; };
    doc.create(path);
    doc.markChanged();
    told = 0;
    // Another program replaced the file by something that is no table.
    remove_file(path);
    test::write_file(path, {'n', 'o', 't'});
    EXPECT_ANY_THROW(doc.reopen());
    EXPECT_FALSE(doc.isOpen());
    EXPECT_FALSE(doc.isChanged());
    EXPECT_EQ(told, 1);
}

TEST(Document, AFailedOpenOpensNothing) {
    test::TempDir dir;
    Document doc;
    EXPECT_ANY_THROW(doc.open(dir.file("missing.db")));
    EXPECT_FALSE(doc.isOpen());
}
