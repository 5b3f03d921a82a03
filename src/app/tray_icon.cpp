#include "app/tray_icon.h"

#include <QMenu>

#include "app/app_resources.h"
#include "app/main_frame.h"

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

CTrayIcon::CTrayIcon() = default;

CTrayIcon::~CTrayIcon() = default;

bool CTrayIcon::AddToTray(CMainFrame* owner, unsigned int id, const QIcon& icon, const char* tip) {
    m_pOwner = owner;
    m_uID = id;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return false;
    }
    m_pMenu = std::make_unique<QMenu>();
    QAction* exit = m_pMenu->addAction(QStringLiteral("Exit"));
    connect(exit, &QAction::triggered, this, [this] {
        if (m_pOwner != nullptr) {
            m_pOwner->PostCommand(kCmdAppExit);
        }
    });

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
    if (id != m_uID || m_pOwner == nullptr) {
        return 0;
    }
    // The right-button menu is opened by QSystemTrayIcon itself from its context menu.
    if (reason == QSystemTrayIcon::DoubleClick) {
        m_pOwner->PostCommand(kCmdShowShotDlg);
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
