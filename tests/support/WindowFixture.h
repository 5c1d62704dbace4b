#pragma once

// The main window with its dialogs answered from a script, for the window's tests.

#include "link/receive.h"
#include "settings/Settings.h"
#include "support/ScriptedDialogs.h"
#include "support/TableFixture.h"
#include "support/UiTestSupport.h"
#include "ui/main.h"

#include <QSettings>
#include <QTabWidget>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace ulen3::test {

class WindowFixture : public TableFixture {
protected:
    ScriptedDialogs dialogs;
    UserSettings settings;
    std::unique_ptr<DownloadResults> results = std::make_unique<DownloadResults>();
    std::unique_ptr<TForm2> download;
    std::unique_ptr<TForm1> form;

    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.file("config")));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.file("data")));
        download = std::make_unique<TForm2>(*results, nullptr, 400);
        form = std::make_unique<TForm1>(dialogs, settings, *download, *results);
        form->setQuit([this] { ++quits; });
    }
    int quits = 0;
    void TearDown() override {
        form.reset();
        download.reset();
    }

    // A table file with records of the given kinds.
    QString tableFile(const std::string& name, const std::vector<int>& kinds) {
        ObservationTable t;
        const std::string path = dir.file(name);
        t.CreateEmpty(path);
        t.Open(path);
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            t.Append();
            t.SetNumber(Field::N, static_cast<double>(i + 1));
            t.SetInteger(Field::NB_TYPE, kinds[i]);
            t.SetNumber(Field::P, 1.5 * static_cast<double>(i));
            t.Post();
        }
        t.Close();
        return QString::fromStdString(path);
    }

    bool tabVisible(int i) const { return form->pageTabs()->isTabVisible(i); }
};

} // namespace ulen3::test
