#pragma once

#include <QList>
#include <QRect>
#include <QString>

#include "audio/audio_track.h"

#include <memory>
#include <optional>

class QSettings;

// The choices the program remembers between runs: the capture window's place and size, the
// output folder, the pointer option, the sound sources and the token that lets the desktop share
// the screen again without asking. They live in an INI file under the XDG config folder
// ($XDG_CONFIG_HOME or ~/.config, "Brintel Shot/BrintelShot.ini"). A file that cannot be read,
// is no regular file (a FIFO, a device) or is not a valid settings file (any bytes that are
// not INI text) is reported in one line on standard error and then left alone: nothing is
// read from it and nothing written over it.
class CAppSettings {
public:
    CAppSettings();
    ~CAppSettings();
    CAppSettings(const CAppSettings&) = delete;
    CAppSettings& operator=(const CAppSettings&) = delete;

    std::optional<QRect> WindowGeometry() const;
    QString OutputFolder() const;  // empty: the start directory
    bool RecordPointer() const;
    // The text under `key` (the global keys: "keys/record", ...); empty when there is none.
    QString Text(const char* key) const;
    AudioChoice RecordSound() const;  // none when unset or not a choice
    // What the screen-sharing portal gave for sharing the same screen next time (one use).
    QString ScreenCastRestoreToken() const;

    void SetWindowGeometry(const QRect& geometry);
    void SetOutputFolder(const QString& folder);
    void SetRecordPointer(bool on);
    void SetRecordSound(AudioChoice choice);
    void SetScreenCastRestoreToken(const QString& token);

private:
    void Store(const QString& key, const QVariant& value);

    std::unique_ptr<QSettings> m_pSettings;  // null when the file is not usable
    bool m_bWriteFailureReported = false;
};

// Where a saved window rectangle goes on the screens there are now: as saved when it lies on
// one screen; moved onto the screen it overlaps most when it sticks out (and fits there);
// nothing (the default place) when it overlaps no screen or is empty.
std::optional<QRect> RestoredGeometry(const QRect& saved, const QList<QRect>& screens);
