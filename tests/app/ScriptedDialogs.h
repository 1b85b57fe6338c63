#pragma once
#include "services/DialogService.h"

#include <QStringList>

#include <deque>
#include <functional>

// Answers the program's boxes and file dialogs from a script and keeps a
// record of what was asked. A dialog without a scripted answer is
// cancelled (a box gets its Cancel or OK) and noted.
class ScriptedDialogs final : public qv::app::DialogService {
public:
    struct Asked {
        // "error", "information", "message", "confirm", "question", "notice", "open", "save"
        QString kind;
        QString text; // the message, or the dialog's filter
    };

    std::vector<Asked> asked;
    std::deque<Answer> answers;
    std::deque<bool> questionAnswers; // Yes / No boxes; No when none is left
    std::deque<QStringList> openAnswers;
    std::deque<QString> saveAnswers;
    std::function<void(const Asked&)> onAsked; // runs while the box would be up

    void ErrorBox(QWidget*, const QString& text) override { Note("error", text); }
    void Information(QWidget*, const QString& text) override { Note("information", text); }
    void Message(QWidget*, const QString& text) override { Note("message", text); }
    Answer Confirm(QWidget*, const QString& question) override
    {
        Note("confirm", question);
        return Next(answers, Answer::Cancel);
    }
    bool Question(QWidget*, const QString& question) override
    {
        Note("question", question);
        return Next(questionAnswers, false);
    }
    void Notice(QWidget*, const QString& text) override { Note("notice", text); }
    QStringList OpenFiles(QWidget*, const qv::app::FileDialogRequest& request) override
    {
        Note("open", request.filter);
        return Next(openAnswers, QStringList());
    }
    QString SaveFile(QWidget*, const qv::app::FileDialogRequest& request) override
    {
        Note("save", request.filter);
        return Next(saveAnswers, QString());
    }

    QStringList Texts(const QString& kind) const
    {
        QStringList out;
        for (const Asked& a : asked)
            if (a.kind == kind)
                out << a.text;
        return out;
    }
    void Clear()
    {
        asked.clear();
        answers.clear();
        questionAnswers.clear();
        openAnswers.clear();
        saveAnswers.clear();
    }

private:
    template <class T> static T Next(std::deque<T>& queue, T cancelled)
    {
        if (queue.empty())
            return cancelled;
        T a = std::move(queue.front());
        queue.pop_front();
        return a;
    }

    void Note(const char* kind, const QString& text)
    {
        asked.push_back({QString::fromLatin1(kind), text});
        if (onAsked)
            onAsked(asked.back());
    }
};
