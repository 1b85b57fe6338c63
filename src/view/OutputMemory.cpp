#include "OutputMemory.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace qv::view {
namespace {

const QString kInternet = QStringLiteral("internet");
const QString kPlace = QStringLiteral("place");
const QString kTextZoom = QStringLiteral("textzoom");
const QString kLastPage = QStringLiteral("lastpage");

// A hash keeps the group name free of the characters QSettings treats as
// separators.
QString GroupOf(const QString& key)
{
    return QString::fromLatin1(QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(32));
}

} // namespace

OutputMemory::OutputMemory(const QString& outputPath, uint32_t archiveCrc)
{
    const QFileInfo info(outputPath);
    path_ = info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    group_ = GroupOf(path_ + QLatin1Char('\n') + QString::number(archiveCrc, 16));
    readerGroup_ = GroupOf(QStringLiteral("reader\n") + path_);
}

QString OutputMemory::StorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quorvane-view/outputs.ini");
}

QVariant OutputMemory::Value(const QString& group, const QString& key) const
{
    QSettings store(StorePath(), QSettings::IniFormat);
    return store.value(group + QLatin1Char('/') + key);
}

bool OutputMemory::SetValues(const QString& group, const QVariantHash& values)
{
    QSettings store(StorePath(), QSettings::IniFormat);
    store.beginGroup(group);
    store.setValue(QStringLiteral("path"), path_); // for a person reading the file
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (it.value().isValid())
            store.setValue(it.key(), it.value());
        else
            store.remove(it.key());
    }
    store.endGroup();
    store.sync();
    return store.status() == QSettings::NoError;
}

bool OutputMemory::InternetAllowed() const
{
    return Value(group_, kInternet).toBool();
}

bool OutputMemory::SetInternetAllowed(bool allowed)
{
    return SetValues(group_, {{kInternet, allowed}});
}

std::optional<OutputMemory::ReaderState> OutputMemory::Reader() const
{
    const QVariant zoom = Value(readerGroup_, kTextZoom);
    if (!zoom.isValid())
        return std::nullopt;
    ReaderState state;
    state.textZoom = zoom.toDouble();
    const QRect place = Value(readerGroup_, kPlace).toRect();
    if (place.isValid())
        state.place = place;
    state.lastPage = Value(readerGroup_, kLastPage).toString();
    return state;
}

bool OutputMemory::SetReader(const ReaderState& state)
{
    return SetValues(readerGroup_, {{kTextZoom, state.textZoom},
                                    {kPlace, state.place ? QVariant(*state.place) : QVariant()},
                                    {kLastPage, state.lastPage}});
}

bool OutputMemory::SetLastPage(const QString& addressPath)
{
    return SetValues(readerGroup_, {{kLastPage, addressPath}});
}

} // namespace qv::view
