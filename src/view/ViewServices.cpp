#include "ViewServices.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>

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
};

class Desktop final : public ViewShell {
public:
    bool Open(const QUrl& target) override { return QDesktopServices::openUrl(target); }
};

} // namespace

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

} // namespace qv::view
