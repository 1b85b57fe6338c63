#pragma once
#include <QRect>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

namespace qv::view {

// What the viewer remembers of one output from run to run, in
// quorvane-view/outputs.ini of the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config). The reader's consent to the internet
// belongs to the output's canonical path and its archive's CRC, so a
// changed file at the same place, or a copy elsewhere, asks afresh; where
// the reader left off belongs to the path alone and outlives a rebuild.
class OutputMemory {
public:
    OutputMemory(const QString& outputPath, uint32_t archiveCrc);

    bool InternetAllowed() const;
    // Writes at once; false when the store cannot be written.
    bool SetInternetAllowed(bool allowed);

    struct ReaderState {
        std::optional<QRect> place; // of a sizable window: its client area on the desktop
        double textZoom = 1.0;
        QString lastPage; // an address path, still escaped ("/sub/a%20b.html")
    };
    // Nothing before the output's first run has ended.
    std::optional<ReaderState> Reader() const;
    // Write at once; false when the store cannot be written.
    bool SetReader(const ReaderState& state);
    bool SetLastPage(const QString& addressPath);

    // The store's file, for messages.
    static QString StorePath();

private:
    QVariant Value(const QString& group, const QString& key) const;
    bool SetValues(const QString& group, const QVariantHash& values);

    QString path_;
    QString group_;       // path and CRC
    QString readerGroup_; // path alone
};

} // namespace qv::view
