#include "ViewServices.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHash>
#include <QInputDialog>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPrintDialog>
#include <QPushButton>
#include <QStandardPaths>

namespace qv::view {
namespace {

class Widgets final : public ViewDialogs {
public:
    void Message(QWidget* parent, const QString& caption, const QString& text, Icon icon) override
    {
        static constexpr QMessageBox::Icon kIcons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                                       QMessageBox::Warning, QMessageBox::Critical};
        QMessageBox box(kIcons[static_cast<int>(icon)], caption, text, QMessageBox::Ok, parent);
        box.exec();
    }

    std::optional<QString> Password(QWidget* parent, const QString& caption, const QString& text) override
    {
        QInputDialog dialog(parent);
        dialog.setWindowTitle(caption);
        dialog.setLabelText(text);
        dialog.setTextEchoMode(QLineEdit::Password);
        dialog.setInputMode(QInputDialog::TextInput);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.textValue();
    }

    QString OpenOutput(QWidget* parent) override
    {
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QDir::currentPath(),
                                            QStringLiteral("Compiled sites (*.qpf *.exe);;All files (*)"));
    }

    bool Print(QWidget* parent, QPrinter& printer) override
    {
        QPrintDialog dialog(&printer, parent);
        return dialog.exec() == QDialog::Accepted;
    }

    QString SavePdf(QWidget* parent, const QString& suggestedName) override
    {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Print to PDF"),
                                            QDir::home().filePath(suggestedName),
                                            QStringLiteral("PDF files (*.pdf)"));
    }

    bool Confirm(QWidget* parent, const QString& caption, const QString& text) override
    {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Cancel, parent);
        QPushButton* open = box.addButton(QStringLiteral("Open"), QMessageBox::AcceptRole);
        box.setDefaultButton(QMessageBox::Cancel);
        box.exec();
        return box.clickedButton() == open;
    }
};

class Desktop final : public ViewShell {
public:
    bool Open(const QUrl& target) override { return QDesktopServices::openUrl(target); }
};

// The keys of one [group] of a desktop entry or MIME list file.
QHash<QString, QString> GroupOf(const QString& path, const QString& group)
{
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    bool inside = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inside = line == header;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inside && equals > 0 && !line.startsWith(QLatin1Char('#')) && !values.contains(line.left(equals).trimmed()))
            values.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return values;
}

// The name of the desktop's default application for `type`, read where
// the desktop keeps it: mimeapps.list of the user, then of the system.
QString DefaultApplicationName(const QMimeType& type)
{
    const QStringList applications = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    QStringList lists;
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        lists << folder + QStringLiteral("/mimeapps.list");
    for (const QString& folder : applications)
        lists << folder + QStringLiteral("/mimeapps.list") << folder + QStringLiteral("/defaults.list");
    const QStringList names = QStringList(type.name()) + type.aliases();
    for (const QString& list : lists) {
        const QHash<QString, QString> defaults = GroupOf(list, QStringLiteral("Default Applications"));
        for (const QString& name : names)
            for (const QString& id : defaults.value(name).split(QLatin1Char(';'), Qt::SkipEmptyParts))
                for (const QString& folder : applications) {
                    const QString shown = GroupOf(folder + QLatin1Char('/') + id, QStringLiteral("Desktop Entry"))
                                              .value(QStringLiteral("Name"));
                    if (!shown.isEmpty())
                        return shown;
                }
    }
    return {};
}

} // namespace

QString ViewShell::HandlerOf(const QString& fileName) const
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName);
    if (!type.isValid() || type.isDefault())
        return {};
    const QString application = DefaultApplicationName(type);
    if (!application.isEmpty())
        return application;
    return QStringLiteral("the program your desktop uses for %1 files").arg(type.comment());
}

ViewDialogs& WidgetDialogs()
{
    static Widgets dialogs;
    return dialogs;
}

ViewShell& DesktopShell()
{
    static Desktop shell;
    return shell;
}

QString ViewerName()
{
    return QStringLiteral("Quorvane Viewer");
}

} // namespace qv::view
