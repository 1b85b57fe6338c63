#pragma once
#include "quorvane/project/ProjectFile.h"
#include "quorvane/project/ProjectSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QList>
#include <QString>
#include <QUrl>

inline void WriteText(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    f.write(bytes);
}

inline QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A stand-in for quorvane-view in the program folder; its path.
inline QString PlaceViewer(const QString& programFolder, const QByteArray& script = "#!/bin/sh\n")
{
    const QString viewer = programFolder + "quorvane-view";
    WriteText(viewer, script);
    QFile::setPermissions(viewer, QFile::permissions(viewer) | QFileDevice::ExeOwner);
    return viewer;
}

// A small site and a QPF project for it; `extraBytes` adds a file of
// poorly compressible data, to make a build take a while.
inline QString MakeProject(const QString& folder, const QString& name, qint64 extraBytes = 0,
                           const QByteArray& indexHtml = {})
{
    const QString site = folder + "/" + name + "-site";
    WriteText(site + "/index.html",
              indexHtml.isEmpty() ? QByteArray("<html><body><h1>Sample</h1><a href='a.html'>a</a></body></html>")
                                  : indexHtml);
    WriteText(site + "/a.html", "<html><body>A page</body></html>");
    WriteText(site + "/css/site.css", "body { color: #123; }");
    if (extraBytes > 0) {
        QByteArray noise(extraBytes, '\0');
        quint32 x = 2463534242u;
        for (char& c : noise) {
            x ^= x << 13; x ^= x >> 17; x ^= x << 5;
            c = static_cast<char>(x);
        }
        WriteText(site + "/data/noise.bin", noise);
    }
    qv::ProjectSettingsRecord s;
    s.HomePage = (site + "/index.html").toStdString();
    s.OutputIsExe = false;
    s.OutputPath = (folder + "/" + name + ".qpf").toStdString();
    const QString project = folder + "/" + name + ".qp";
    if (!qv::SaveProject(project.toStdString(), s, [](const std::string& m) { qFatal("%s", m.c_str()); }))
        qFatal("project not written");
    return project;
}
