#pragma once
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

class QWidget;

namespace qv::app {

// What a file dialog is asked: the window's OpenDialog and SaveDialog, and
// any other picker, are described by one of these.
struct FileDialogRequest {
    QString title;
    QString filter;        // Qt form: "Quorvane Projects (*.qp)"
    QString defaultSuffix; // without the dot; empty for none
    bool allowMultiple = false;
    bool confirmOverwrite = true;
    QString folder;
};

// Every message box and file dialog of the program goes through this, so
// tests can answer them without a person.
class DialogService {
public:
    enum class Answer { Yes, No, Cancel, Ok };
    virtual ~DialogService() = default;

    // The program's error box: the application's title, the error icon, OK.
    // `text` is shown as given (see ShowErrorBox for the final period).
    virtual void ErrorBox(QWidget* parent, const QString& text) = 0;
    virtual void Information(QWidget* parent, const QString& text) = 0;
    // A plain box with OK and no icon.
    virtual void Message(QWidget* parent, const QString& text) = 0;
    // The standard confirmation box with Yes, No and Cancel; closing it
    // without a choice answers Cancel.
    virtual Answer Confirm(QWidget* parent, const QString& question) = 0;
    // A question with Yes and No only; true for Yes. Services that know no
    // such box ask Confirm, whose Cancel counts as No.
    virtual bool Question(QWidget* parent, const QString& question)
    {
        return Confirm(parent, question) == Answer::Yes;
    }
    // A notice in a confirmation box (question icon) with only OK; services
    // that know no such box show it as Message.
    virtual void Notice(QWidget* parent, const QString& text) { Message(parent, text); }
    // Empty when cancelled.
    virtual QStringList OpenFiles(QWidget* parent, const FileDialogRequest& request) = 0;
    virtual QString SaveFile(QWidget* parent, const FileDialogRequest& request) = 0;
};

// The one service in use; the Qt widgets one until something else is set.
DialogService& Dialogs();
// Replaces the service and returns the previous one.
std::unique_ptr<DialogService> SetDialogService(std::unique_ptr<DialogService> service);

// The error box for a failure's message: a "." is added when the last
// character's code is above that of ".".
void ShowErrorBox(QWidget* parent, const std::string& message);

// Runs a user-interface handler; a failure that leaves it is shown in the
// error box and the handler's remaining steps are skipped. Returns whether
// it ran through.
template <class F> bool Guarded(QWidget* parent, F&& handler);

bool ReportCurrentException(QWidget* parent);

template <class F> bool Guarded(QWidget* parent, F&& handler)
{
    try {
        handler();
        return true;
    } catch (...) {
        return ReportCurrentException(parent);
    }
}

} // namespace qv::app
