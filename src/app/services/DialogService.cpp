#include "services/DialogService.h"

#include "quorvane/base/Error.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include <exception>

namespace qv::app {
namespace {

QString Title()
{
    return QStringLiteral("Quorvane Compiler");
}

// Messages carry Windows line breaks; a label wants plain ones.
QString Lines(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

class WidgetDialogs final : public DialogService {
public:
    void ErrorBox(QWidget* parent, const QString& text) override
    {
        QMessageBox::critical(parent, Title(), Lines(text), QMessageBox::Ok);
    }

    void Information(QWidget* parent, const QString& text) override
    {
        QMessageBox::information(parent, Title(), Lines(text), QMessageBox::Ok);
    }

    void Message(QWidget* parent, const QString& text) override
    {
        QMessageBox box(QMessageBox::NoIcon, Title(), Lines(text), QMessageBox::Ok, parent);
        box.exec();
    }

    Answer Confirm(QWidget* parent, const QString& question) override
    {
        QMessageBox box(QMessageBox::Question, Title(), question,
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
        box.setEscapeButton(QMessageBox::Cancel);
        switch (box.exec()) {
        case QMessageBox::Yes: return Answer::Yes;
        case QMessageBox::No: return Answer::No;
        default: return Answer::Cancel;
        }
    }

    bool Question(QWidget* parent, const QString& question) override
    {
        return QMessageBox::question(parent, Title(), Lines(question), QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::Yes) == QMessageBox::Yes;
    }

    void Notice(QWidget* parent, const QString& text) override
    {
        QMessageBox box(QMessageBox::Question, Title(), Lines(text), QMessageBox::Ok, parent);
        box.exec();
    }

    QStringList OpenFiles(QWidget* parent, const FileDialogRequest& request) override
    {
        QFileDialog dialog(parent, request.title, request.folder, request.filter);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(request.allowMultiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        if (dialog.exec() != QDialog::Accepted)
            return {};
        return dialog.selectedFiles();
    }

    QString SaveFile(QWidget* parent, const FileDialogRequest& request) override
    {
        QFileDialog dialog(parent, request.title, request.folder, request.filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(request.defaultSuffix);
        if (!request.confirmOverwrite)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().first();
    }
};

std::unique_ptr<DialogService>& Current()
{
    static std::unique_ptr<DialogService> service = std::make_unique<WidgetDialogs>();
    return service;
}

} // namespace

DialogService& Dialogs()
{
    return *Current();
}

std::unique_ptr<DialogService> SetDialogService(std::unique_ptr<DialogService> service)
{
    std::unique_ptr<DialogService> previous = std::move(Current());
    Current() = service ? std::move(service) : std::make_unique<WidgetDialogs>();
    return previous;
}

void ShowErrorBox(QWidget* parent, const std::string& message)
{
    Dialogs().ErrorBox(parent, QString::fromStdString(ErrorBoxText(message)));
}

bool ReportCurrentException(QWidget* parent)
{
    try {
        throw;
    } catch (const std::exception& e) {
        ShowErrorBox(parent, e.what());
    } catch (...) {
        ShowErrorBox(parent, "Unknown failure");
    }
    return false;
}

} // namespace qv::app
