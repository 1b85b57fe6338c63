#include "OutputMemory.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace qv::view {
namespace {

const QString kInternet = QStringLiteral("internet");

} // namespace

OutputMemory::OutputMemory(const QString& outputPath, uint32_t archiveCrc)
{
    const QFileInfo info(outputPath);
    path_ = info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    // A hash keeps the group name free of the characters QSettings treats
    // as separators.
    group_ = QString::fromLatin1(
        QCryptographicHash::hash((path_ + QLatin1Char('\n') + QString::number(archiveCrc, 16)).toUtf8(),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(32));
}

QString OutputMemory::StorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quorvane-view/outputs.ini");
}

QVariant OutputMemory::Value(const QString& key) const
{
    QSettings store(StorePath(), QSettings::IniFormat);
    return store.value(group_ + QLatin1Char('/') + key);
}

bool OutputMemory::SetValue(const QString& key, const QVariant& value)
{
    QSettings store(StorePath(), QSettings::IniFormat);
    store.beginGroup(group_);
    store.setValue(QStringLiteral("path"), path_); // for a person reading the file
    store.setValue(key, value);
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
}

bool OutputMemory::InternetAllowed() const
{
    return Value(kInternet).toBool();
}

bool OutputMemory::SetInternetAllowed(bool allowed)
{
    return SetValue(kInternet, allowed);
}

} // namespace qv::view
