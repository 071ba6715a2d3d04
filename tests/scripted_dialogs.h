#pragma once
// A DialogService for tests: records every text shown and answers questions from a script.
// Notices are recorded too, but never run on_show: nothing waits for them.

#include "dialog_service.h"

#include <QStringList>

#include <deque>
#include <functional>

namespace miravox::testing {

class ScriptedDialogs : public DialogService {
public:
    QStringList shown;      // every text, in order, prefixed by its kind ("info: ", "confirm: ", "aviso: ",
                            // "notice: ", "aviso notice: ")
    std::deque<bool> answers;   // answers for CONFIRMA, consumed in order
    bool default_answer = true; // when the script runs out
    std::deque<QString> files;   // answers for choose_file / choose_folder
    std::function<void()> on_show; // runs inside every box (like a nested loop would)

    void information(const QString& text) override { record("info: " + text); }
    bool CONFIRMA(const QString& text) override {
        record("confirm: " + text);
        if (answers.empty())
            return default_answer;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void MOSTRA_AVISO(const QString& text) override { record("aviso: " + text); }
    QString choose_file(const QString&, const QString&, const QString&) override { return next_file(); }
    QString choose_folder(const QString&, const QString&) override { return next_file(); }
    void notice(const QString& text) override { shown << "notice: " + text; }
    void notice_aviso(const QString& text) override { shown << "aviso notice: " + text; }

    int count_containing(const QString& part) const {
        int n = 0;
        for (const QString& s : shown)
            n += s.contains(part) ? 1 : 0;
        return n;
    }

private:
    void record(const QString& s) {
        shown << s;
        if (on_show)
            on_show();
    }
    QString next_file() {
        if (files.empty())
            return {};
        QString f = files.front();
        files.pop_front();
        return f;
    }
};

} // namespace miravox::testing
