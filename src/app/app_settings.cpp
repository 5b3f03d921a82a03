#include "app/app_settings.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

const char kOrganization[] = "Brintel Shot";
const char kApplication[] = "BrintelShot";
const char kWindowGeometryKey[] = "window/geometry";
const char kOutputFolderKey[] = "output/folder";
const char kRecordPointerKey[] = "recording/pointer";
const char kRecordSoundKey[] = "recording/audio";
const char kRestoreTokenKey[] = "screencast/restore_token";

// Larger than any settings file this program writes by far.
constexpr qint64 kMaxSettingsBytes = 1 << 20;

void Report(const QString& path, const char* what) {
    std::fprintf(stderr, "brintelshot: ignoring the settings file %s: %s.\n", qPrintable(path),
                 what);
}

// An INI file as QSettings writes it: UTF-8 text of sections, keys with values, comments.
bool IsSettingsText(const QByteArray& bytes) {
    QStringDecoder decode(QStringDecoder::Utf8);
    const QString text = decode(bytes);
    if (decode.hasError()) {
        return false;
    }
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        const bool control = std::any_of(line.begin(), line.end(), [](QChar c) {
            return c.category() == QChar::Other_Control && c != QLatin1Char('\t');
        });
        if (control || !(line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
                         line.startsWith(QLatin1Char('#')) || line.contains(QLatin1Char('=')) ||
                         (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))))) {
            return false;
        }
    }
    return true;
}

// Why the file at path cannot be the settings file; null when it can (or does not exist yet).
// Only a regular file is opened: a FIFO or a device would block the start or worse.
const char* SettingsFileProblem(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return errno == ENOENT ? nullptr : "it cannot be read";
    }
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    QFile file(path);
    if (info.st_size > kMaxSettingsBytes || !file.open(QIODevice::ReadOnly)) {
        return info.st_size > kMaxSettingsBytes ? "it is too large" : "it cannot be read";
    }
    return IsSettingsText(file.read(kMaxSettingsBytes + 1)) ? nullptr
                                                            : "it is not a valid settings file";
}

}  // namespace

CAppSettings::CAppSettings() {
    // Where QSettings keeps a user's INI file; checked before QSettings opens it.
    const QString path =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/%1/%2.ini").arg(QLatin1String(kOrganization), QLatin1String(kApplication));
    if (const char* problem = SettingsFileProblem(path)) {
        Report(path, problem);
        return;
    }
    m_pSettings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    (void)m_pSettings->contains(kWindowGeometryKey);  // reads the file
    switch (m_pSettings->status()) {
        case QSettings::NoError:
            return;
        case QSettings::AccessError:
            Report(m_pSettings->fileName(), "it cannot be read");
            break;
        case QSettings::FormatError:
            Report(m_pSettings->fileName(), "it is not a valid settings file");
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

QString CAppSettings::Text(const char* key) const {
    return m_pSettings ? m_pSettings->value(key).toString() : QString();
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
