#pragma once

// The main window with its dialogs answered from a script, for the window's tests.

#include "settings/Settings.h"
#include "support/UiTestSupport.h"
#include "ui/UserDialogs.h"
#include "ui/main.h"
#include "link/receive.h"
#include "support/TableFixture.h"

#include <QSettings>
#include <QTabWidget>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace ulen3::test {

// Answers every dialog from a script and remembers what was asked.
class ScriptedDialogs : public UserDialogs {
public:
    std::deque<QString> files;   // answers of the open and save dialogs ("" = cancel)
    std::deque<bool> answers;    // answers of questions
    std::vector<QString> asked;  // "kind|caption|text" of every box shown
    bool lastConfirmOverwrite = false;

    QString openFile(QWidget*, const QString& filter, const QString&, const QString&) override {
        asked.push_back("open|" + filter);
        return next();
    }
    QString saveFile(QWidget*, const QString& filter, const QString&, const QString&, bool confirm) override {
        asked.push_back("save|" + filter);
        lastConfirmOverwrite = confirm;
        return next();
    }
    bool ask(QWidget*, const QString& caption, const QString& text, bool) override {
        asked.push_back("question|" + caption + "|" + text);
        const bool a = answers.empty() ? false : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return a;
    }
    void message(QWidget*, BoxIcon icon, const QString& caption, const QString& text, const QString& details) override {
        const char* kind = icon == BoxIcon::Error ? "error|" : icon == BoxIcon::Warning ? "warning|" : "information|";
        asked.push_back(kind + caption + "|" + text);
        lastDetails = details;
        if (onMessage)
            onMessage();
    }
    std::function<void()> onMessage; // runs while a box is shown
    QString lastDetails;
    std::deque<std::optional<QColor>> colours; // answers of the colour dialog (none = cancel)
    std::vector<QColor> coloursOffered;        // the colour each colour dialog opened with
    std::optional<QColor> color(QWidget*, const QColor& initial) override {
        asked.push_back("color");
        coloursOffered.push_back(initial);
        if (colours.empty())
            return std::nullopt;
        auto c = colours.front();
        colours.pop_front();
        return c;
    }

private:
    QString next() {
        if (files.empty())
            return {};
        QString f = files.front();
        files.pop_front();
        return f;
    }
};

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
        download->setErrorBox([this](QWidget*, const QString& caption, const QString& text, const QString&) {
            dialogs.asked.push_back("error|" + caption + "|" + text);
        });
        form = std::make_unique<TForm1>(dialogs, settings, *download, *results);
        form->QuitApplication = [this] { ++quits; };
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

    bool tabVisible(int i) const { return form->PageControl1->isTabVisible(i); }
};

} // namespace ulen3::test
