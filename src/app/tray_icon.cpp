#include "app/tray_icon.h"

#include <QLocale>
#include <QMenu>

QString TrayTipText(const char* tip) {
    if (tip == nullptr) {
        return QString();
    }
    QList<uint> characters = QString::fromUtf8(tip).toUcs4();
    if (characters.size() > CTrayIcon::kMaxTipChars) {
        characters.resize(CTrayIcon::kMaxTipChars);
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.constData()),
                             characters.size());
}

QString RecordingTipText(const char* tip, qint64 elapsedMs, qint64 fileBytes) {
    const qint64 seconds = elapsedMs / 1000;
    const QString elapsed =
        seconds >= 3600
            ? QStringLiteral("%1:%2:%3")
                  .arg(seconds / 3600)
                  .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                  .arg(seconds % 60, 2, 10, QLatin1Char('0'))
            : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    const QString size = QLocale::c().formattedDataSize(fileBytes, 1, QLocale::DataSizeSIFormat);
    return TrayTipText(tip) + QStringLiteral(" - recording %1, %2").arg(elapsed, size);
}

CTrayIcon::CTrayIcon() = default;

CTrayIcon::~CTrayIcon() = default;

bool CTrayIcon::AddToTray(unsigned int id, const QIcon& icon, const char* tip) {
    m_uID = id;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return false;
    }
    m_pMenu = std::make_unique<QMenu>();
    QAction* exit = m_pMenu->addAction(QStringLiteral("Exit"));
    connect(exit, &QAction::triggered, this, &CTrayIcon::exitRequested);

    m_pIcon = std::make_unique<QSystemTrayIcon>(icon);
    m_pIcon->setToolTip(TrayTipText(tip));
    m_pIcon->setContextMenu(m_pMenu.get());
    connect(m_pIcon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { OnTrayNotify(m_uID, reason); });
    m_pIcon->show();
    return true;
}

bool CTrayIcon::RemoveFromTray(unsigned int id) {
    if (id != m_uID || !m_pIcon) {
        return false;
    }
    m_pIcon->hide();
    m_pIcon.reset();
    m_pMenu.reset();
    return true;
}

int CTrayIcon::OnTrayNotify(unsigned int id, QSystemTrayIcon::ActivationReason reason) {
    if (id != m_uID) {
        return 0;
    }
    // The right-button menu is opened by QSystemTrayIcon itself from its context menu.
    if (reason == QSystemTrayIcon::DoubleClick) {
        emit showRequested();
    }
    return 1;
}

bool CTrayIcon::IsInTray() const {
    return m_pIcon != nullptr && m_pIcon->isVisible();
}

void CTrayIcon::ShowMessage(const QString& title, const QString& text) {
    if (IsInTray()) {
        m_pIcon->showMessage(title, text, QSystemTrayIcon::Information);
    }
}

QString CTrayIcon::ToolTip() const {
    return m_pIcon ? m_pIcon->toolTip() : QString();
}

void CTrayIcon::SetToolTip(const QString& tip) {
    if (m_pIcon) {
        m_pIcon->setToolTip(tip);
    }
}
