#include "app/app_settings.h"

#include <QSettings>

#include <cstdio>

namespace {

const char kOrganization[] = "Brintel Shot";
const char kApplication[] = "BrintelShot";
const char kWindowGeometryKey[] = "window/geometry";
const char kOutputFolderKey[] = "output/folder";
const char kRecordPointerKey[] = "recording/pointer";
const char kRecordSoundKey[] = "recording/audio";
const char kRestoreTokenKey[] = "screencast/restore_token";

void Report(const QSettings& settings, const char* what) {
    std::fprintf(stderr, "brintelshot: ignoring the settings file %s: %s.\n",
                 qPrintable(settings.fileName()), what);
}

}  // namespace

CAppSettings::CAppSettings()
    : m_pSettings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                              kOrganization, kApplication)) {
    (void)m_pSettings->contains(kWindowGeometryKey);  // reads the file
    switch (m_pSettings->status()) {
        case QSettings::NoError:
            return;
        case QSettings::AccessError:
            Report(*m_pSettings, "it cannot be read");
            break;
        case QSettings::FormatError:
            Report(*m_pSettings, "it is not a valid settings file");
            break;
    }
    m_pSettings.reset();
}

CAppSettings::~CAppSettings() = default;

std::optional<QRect> CAppSettings::WindowGeometry() const {
    if (!m_pSettings) {
        return std::nullopt;
    }
    const QRect saved = m_pSettings->value(kWindowGeometryKey).toRect();
    return saved.isValid() ? std::optional<QRect>(saved) : std::nullopt;
}

QString CAppSettings::OutputFolder() const {
    return m_pSettings ? m_pSettings->value(kOutputFolderKey).toString() : QString();
}

bool CAppSettings::RecordPointer() const {
    return m_pSettings && m_pSettings->value(kRecordPointerKey).toString() == QLatin1String("true");
}

AudioChoice CAppSettings::RecordSound() const {
    AudioChoice choice = AudioChoice::kNone;
    if (m_pSettings) {
        ParseAudioChoice(m_pSettings->value(kRecordSoundKey).toString().toStdString(), &choice);
    }
    return choice;
}

QString CAppSettings::ScreenCastRestoreToken() const {
    return m_pSettings ? m_pSettings->value(kRestoreTokenKey).toString() : QString();
}

void CAppSettings::SetScreenCastRestoreToken(const QString& token) {
    Store(kRestoreTokenKey, token);
}

void CAppSettings::SetWindowGeometry(const QRect& geometry) {
    Store(kWindowGeometryKey, geometry);
}

void CAppSettings::SetOutputFolder(const QString& folder) {
    Store(kOutputFolderKey, folder);
}

void CAppSettings::SetRecordPointer(bool on) {
    Store(kRecordPointerKey, on);
}

void CAppSettings::SetRecordSound(AudioChoice choice) {
    Store(kRecordSoundKey, QString::fromLatin1(AudioChoiceName(choice)));
}

void CAppSettings::Store(const QString& key, const QVariant& value) {
    if (!m_pSettings) {
        return;
    }
    m_pSettings->setValue(key, value);
    m_pSettings->sync();
    if (m_pSettings->status() != QSettings::NoError && !m_bWriteFailureReported) {
        m_bWriteFailureReported = true;
        std::fprintf(stderr, "brintelshot: cannot save the settings to %s.\n",
                     qPrintable(m_pSettings->fileName()));
    }
}

std::optional<QRect> RestoredGeometry(const QRect& saved, const QList<QRect>& screens) {
    if (saved.isEmpty()) {
        return std::nullopt;
    }
    const QRect* best = nullptr;
    qint64 bestArea = 0;
    for (const QRect& screen : screens) {
        const QRect common = screen.intersected(saved);
        const qint64 area = qint64(common.width()) * common.height();
        if (area > bestArea) {
            best = &screen;
            bestArea = area;
        }
    }
    if (best == nullptr || saved.width() > best->width() || saved.height() > best->height()) {
        return std::nullopt;
    }
    QRect placed = saved;
    placed.moveLeft(qBound(best->left(), saved.left(), best->right() + 1 - saved.width()));
    placed.moveTop(qBound(best->top(), saved.top(), best->bottom() + 1 - saved.height()));
    return placed;
}
