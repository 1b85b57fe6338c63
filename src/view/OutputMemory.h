#pragma once
#include <QString>
#include <QVariant>

#include <cstdint>

namespace qv::view {

// What the viewer remembers of one output from run to run, in
// quorvane-view/outputs.ini of the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config). An output is known by its canonical
// path and its archive's CRC, so a changed file at the same place, or a
// copy elsewhere, starts afresh.
class OutputMemory {
public:
    OutputMemory(const QString& outputPath, uint32_t archiveCrc);

    bool InternetAllowed() const;
    // Writes at once; false when the store cannot be written.
    bool SetInternetAllowed(bool allowed);

    // The store's file, for messages.
    static QString StorePath();

private:
    QVariant Value(const QString& key) const;
    bool SetValue(const QString& key, const QVariant& value);

    QString path_;
    QString group_;
};

} // namespace qv::view
