#include "app/tray_icon.h"

#include <QCursor>
#include <QLocale>
#include <QMenu>
#include <QToolTip>

#include "capture/command_ids.h"

namespace {
constexpr int kMessageWaitStepMs = 100;
constexpr int kMessageWaitSteps = 50;
}  // namespace

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

QString RecordingTipText(const char* tip, qint64 recordedMs, qint64 fileBytes, bool paused) {
    const qint64 seconds = recordedMs / 1000;
    const QString elapsed =
        seconds >= 3600
            ? QStringLiteral("%1:%2:%3")
                  .arg(seconds / 3600)
                  .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                  .arg(seconds % 60, 2, 10, QLatin1Char('0'))
            : QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    const QString size = QLocale::c().formattedDataSize(fileBytes, 1, QLocale::DataSizeSIFormat);
    return TrayTipText(tip) +
           (paused ? QStringLiteral(" - Paused %1, %2") : QStringLiteral(" - recording %1, %2"))
               .arg(elapsed, size);
}

CTrayIcon::CTrayIcon() {
    m_messageWait.setInterval(kMessageWaitStepMs);
    connect(&m_messageWait, &QTimer::timeout, this, &CTrayIcon::ShowPendingMessage);
}

CTrayIcon::~CTrayIcon() = default;

bool CTrayIcon::AddToTray(unsigned int id, const QIcon& icon, const char* tip) {
    m_uID = id;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return false;
    }
    BuildMenu();

    m_pIcon = std::make_unique<QSystemTrayIcon>(icon);
    m_pIcon->setToolTip(TrayTipText(tip));
    m_pIcon->setContextMenu(m_pMenu.get());
    connect(m_pIcon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { OnTrayNotify(m_uID, reason); });
    m_pIcon->show();
    return true;
}

void CTrayIcon::BuildMenu() {
    m_pMenu = std::make_unique<QMenu>();
    auto addCommand = [this](const char* text, int id) {
        QAction* item = m_pMenu->addAction(QString::fromUtf8(text));
        connect(item, &QAction::triggered, this, [this, id] { emit commandChosen(id); });
        return item;
    };
    m_pRecordItem = addCommand("Start recording", ID_RECORD);
    m_pPauseItem = addCommand("Pause", ID_PAUSE);
    m_pCaptureItem = addCommand("Capture still", ID_CAPTURE);
    m_pMenu->addSeparator();
    connect(m_pMenu->addAction(QStringLiteral("Show capture window")), &QAction::triggered, this,
            &CTrayIcon::showRequested);
    addCommand("Open output folder", ID_OPEN_FOLDER);
    m_pMenu->addSeparator();
    connect(m_pMenu->addAction(QStringLiteral("Exit")), &QAction::triggered, this,
            &CTrayIcon::exitRequested);
    ShowRecordingState(false, false);
}

void CTrayIcon::ShowRecordingState(bool recording, bool paused) {
    if (!m_pMenu) {
        return;
    }
    m_pRecordItem->setText(recording ? QStringLiteral("Stop recording")
                                     : QStringLiteral("Start recording"));
    m_pPauseItem->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_pPauseItem->setEnabled(recording);
    m_pCaptureItem->setEnabled(!recording);
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
    if (!IsInTray()) {
        return;
    }
    m_strPendingTitle = title;
    m_strPendingText = text;
    m_nMessageWaits = 0;
    ShowPendingMessage();
}

void CTrayIcon::ShowPendingMessage() {
    if (!IsInTray()) {
        m_messageWait.stop();
        return;
    }
    if (m_pIcon->geometry().isEmpty() && ++m_nMessageWaits < kMessageWaitSteps) {
        m_messageWait.start();
        return;
    }
    m_messageWait.stop();
    m_pIcon->showMessage(m_strPendingTitle, m_strPendingText, QSystemTrayIcon::Information);
}

QString CTrayIcon::ToolTip() const {
    return m_pIcon ? m_pIcon->toolTip() : QString();
}

void CTrayIcon::SetToolTip(const QString& tip) {
    if (!m_pIcon) {
        return;
    }
    const bool shown = QToolTip::isVisible() && QToolTip::text() == m_pIcon->toolTip() &&
                       m_pIcon->geometry().contains(QCursor::pos());
    m_pIcon->setToolTip(tip);
    if (shown && tip != QToolTip::text()) {
        QToolTip::showText(QCursor::pos(), tip, nullptr, m_pIcon->geometry());
    }
}
