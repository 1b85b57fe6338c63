#pragma once
#include <QString>
#include <QUrl>

#include <optional>

class QPrinter;
class QWidget;

namespace qv::view {

// Every box and dialog of the viewer goes through this, so tests can answer
// them without a person; the Widgets one is the program's.
class ViewDialogs {
public:
    enum class Icon { None, Information, Warning, Error };
    virtual ~ViewDialogs() = default;

    // A message box with `caption`, `text` and OK.
    virtual void Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) = 0;
    // A dialog with `text`, a field that hides what is typed, OK and
    // Cancel; nullopt for Cancel.
    virtual std::optional<QString> Password(QWidget* parent, const QString& caption, const QString& text) = 0;
    // The output to open (*.qpf, *.exe); empty when cancelled.
    virtual QString OpenOutput(QWidget* parent) = 0;
    // The print dialog for `printer`; false when cancelled.
    virtual bool Print(QWidget* parent, QPrinter& printer) = 0;
    // Where to save a PDF of the page; empty when cancelled.
    virtual QString SavePdf(QWidget* parent, const QString& suggestedName) = 0;
    // A question with Open and Cancel, Cancel the default; true for Open.
    virtual bool Confirm(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// The desktop's "open" for addresses and files that are not shown in the
// viewer: web and mail links, files kept beside the output.
class ViewShell {
public:
    virtual ~ViewShell() = default;
    virtual bool Open(const QUrl& target) = 0;
    // The program the desktop would open the file `fileName` with, by its
    // name, else as the program for its type; empty when unknown.
    virtual QString HandlerOf(const QString& fileName) const;
};

// What the viewer is given to reach the user and the desktop.
struct ViewServices {
    ViewDialogs& dialogs;
    ViewShell& shell;
};

// "Quorvane Viewer", the caption of the viewer's boxes. Not the
// application's display name: the platform would add that to every window
// title, which is the page's alone.
QString ViewerName();

// The real ones: Qt Widgets dialogs and QDesktopServices.
ViewDialogs& WidgetDialogs();
ViewShell& DesktopShell();

} // namespace qv::view
