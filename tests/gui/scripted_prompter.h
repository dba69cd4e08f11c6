#pragma once

#include "gui/prompter.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <ostream>
#include <vector>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* os)
{
    *os << '{';
    for (const QString& text : texts)
        *os << " \"" << text.toStdString() << '"';
    *os << " }";
}

namespace tolvane::test {

// Answers every question from a script and records what was shown; never opens a dialog.
class ScriptedPrompter : public Prompter {
public:
    using Prompter::showMessage;

    void showMessage(QWidget*, const QString& text, const QString& detail,
                     Severity severity) override
    {
        messages << text;
        details << detail;
        severities.push_back(severity);
    }
    bool askYesNo(QWidget*, const QString& text) override
    {
        questions << text;
        return next(answers, false);
    }
    // Cancel when the script has run out: nothing is lost.
    Answer askYesNoCancel(QWidget*, const QString& text) override
    {
        questions << text;
        return next(threeWayAnswers, Answer::Cancel);
    }
    QString openFile(QWidget*, const QString& caption, const QString& filter) override
    {
        fileFilters << filter;
        (void)caption;
        return next(openFiles);
    }
    QString saveFile(QWidget*, const QString& caption, const QString& filter,
                     const QString& defaultSuffix) override
    {
        (void)caption;
        (void)defaultSuffix;
        fileFilters << filter;
        return next(saveFiles);
    }
    std::optional<QString> askText(QWidget*, const QString&, const QString& label) override
    {
        textLabels << label;
        if (texts.empty())
            return std::nullopt; // nothing scripted: the operator cancels
        return next(texts);
    }

    QStringList messages;
    QStringList details; // one per message, empty when it had none
    std::vector<Severity> severities;
    QStringList questions;
    QStringList fileFilters;
    std::deque<bool> answers;
    std::deque<Answer> threeWayAnswers;
    std::deque<QString> openFiles;
    std::deque<QString> saveFiles;
    QStringList textLabels;
    std::deque<QString> texts;

private:
    template <typename T> static T next(std::deque<T>& queue, T whenEmpty = T())
    {
        if (queue.empty())
            return whenEmpty;
        T value = queue.front();
        queue.pop_front();
        return value;
    }
};

} // namespace tolvane::test
