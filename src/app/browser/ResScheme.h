#pragma once
#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

namespace qv::app {

// The "res" scheme: pages and pictures stored inside the program,
// addressed as "res://" + the program's full path + "/" + the name. The
// optional type in "…/23/NAME" may only be RT_HTML (23), the only type the
// program carries.
//
// RegisterResScheme must run before the QApplication exists;
// InstallResScheme once per profile after it.
void RegisterResScheme();
void InstallResScheme(QWebEngineProfile* profile);

// "res://" + program file + "/" + name.
QUrl ResourceUrl(const QString& name);
// The resource a "res" address names, with its MIME type; false when the
// address is not one of this program's resources.
bool LookUpResource(const QUrl& url, QByteArray& bytes, QByteArray& mimeType);

class ResSchemeHandler final : public QWebEngineUrlSchemeHandler {
    Q_OBJECT
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override;
};

} // namespace qv::app
