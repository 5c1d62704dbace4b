#pragma once

// Every dialog of the program answered from a script, for tests.

#include "dialogs/UserDialogs.h"

#include <QColor>
#include <QString>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace ulen3::test {

// Answers every dialog from a script and remembers what was asked.
class ScriptedDialogs : public UserDialogs {
public:
    std::deque<QString> files;  // answers of the open and save dialogs ("" = cancel)
    std::deque<bool> answers;   // answers of questions
    std::vector<QString> asked; // "kind|caption|text" of every box shown
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
    bool offerAnswer = false;                  // whether the action of an offer is chosen
    bool offer(QWidget*, BoxIcon, const QString& caption, const QString& text, const QString& details,
               const QString& action) override {
        asked.push_back("offer|" + caption + "|" + text + "|" + action);
        lastDetails = details;
        return offerAnswer;
    }
    int printed = 0; // print dialogs shown; each is cancelled
    bool print(QWidget*, QPrinter&, int) override {
        asked.push_back("print");
        ++printed;
        return false;
    }
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

} // namespace ulen3::test
