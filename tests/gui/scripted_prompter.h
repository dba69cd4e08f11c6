#pragma once

#include "gui/prompter.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <ostream>

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

    void showMessage(QWidget*, const QString& text) override { messages << text; }
    bool askYesNo(QWidget*, const QString& text) override
    {
        questions << text;
        if (answers.empty())
            return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
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
    QStringList questions;
    QStringList fileFilters;
    std::deque<bool> answers;
    std::deque<QString> openFiles;
    std::deque<QString> saveFiles;
    QStringList textLabels;
    std::deque<QString> texts;

private:
    static QString next(std::deque<QString>& queue)
    {
        if (queue.empty())
            return {};
        QString value = queue.front();
        queue.pop_front();
        return value;
    }
};

} // namespace tolvane::test
