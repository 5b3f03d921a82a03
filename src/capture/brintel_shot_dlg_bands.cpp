// The capture window's frame geometry, and the frame built of separate windows for Wayland
// desktops: this window keeps the caption band and toolbar, four keep-above windows are the bands.
#include "capture/brintel_shot_dlg.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "capture/frame_geometry.h"
#include "platform/window_type.h"

using namespace frame_geometry;

void CBrintelShotDlg::BuildFrameFromSeparateWindows() {
    if (HasSeparateBands()) {
        return;
    }
    const QRect frame = FrameGeometry();
    for (QWidget*& band : m_separateBands) {
        // Kept above other windows by the window manager, as this one is; never focused. A
        // utility window (marked when shown), but no transient tool window: KWin hides those of
        // inactive programs, and the region would lose its frame at the first click into it.
        band = new QWidget(this, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                     Qt::WindowDoesNotAcceptFocus);
        band->setAttribute(Qt::WA_ShowWithoutActivating);
        band->setAttribute(Qt::WA_TranslucentBackground);  // see-through in the dark phase
        band->setMouseTracking(true);                      // the resize zones show their cursors
        band->installEventFilter(this);
    }
    m_nFrameHeight = frame.height();
    ApplyMinimumSize();
    SetFrameGeometry(frame);
    ShowBand(m_bShapeBandVisible);
}

QRect CBrintelShotDlg::FrameGeometry() const {
    if (!HasSeparateBands()) {
        return geometry();
    }
    return QRect(geometry().topLeft(), QSize(width(), m_nFrameHeight));
}

void CBrintelShotDlg::SetFrameGeometry(const QRect& frame) {
    if (!HasSeparateBands()) {
        setGeometry(frame);
        return;
    }
    // During a recording the size stays, as a fixed-size window's would.
    const QSize size = IsRecording() ? FrameGeometry().size() : frame.size();
    m_nFrameHeight = std::max(size.height(), FrameMinimumSize().height());
    setGeometry(SeparateFrameParts(QRect(frame.topLeft(), size), m_nToolbarHeight)[0]);
    OnSize(width(), m_nFrameHeight);  // also when only the frame's height changed
}

QSize CBrintelShotDlg::FrameMinimumSize() const {
    return QSize(kMinWindowWidth, m_nToolbarHeight + kExtraHeightWithoutToolbar);
}

void CBrintelShotDlg::ApplyMinimumSize() {
    const QSize frame = FrameMinimumSize();
    if (!HasSeparateBands()) {
        setMinimumSize(frame);
    } else {
        setMinimumSize(frame.width(), frame.height() - 2 * kRegionInset);
    }
}

void CBrintelShotDlg::PlaceSeparateBands() {
    if (!HasSeparateBands()) {
        return;
    }
    const std::array<QRect, 5> parts = SeparateFrameParts(FrameGeometry(), m_nToolbarHeight);
    for (size_t i = 0; i < m_separateBands.size(); ++i) {
        m_separateBands[i]->setGeometry(parts[i + 1]);
    }
}

void CBrintelShotDlg::ShowSeparateBands() {
    const bool shown = isVisible() && !isMinimized();
    for (QWidget* band : m_separateBands) {
        if (band != nullptr) {
            band->setVisible(shown);
        }
    }
}

bool CBrintelShotDlg::eventFilter(QObject* watched, QEvent* event) {
    auto* band = static_cast<QWidget*>(watched);
    if (std::find(m_separateBands.begin(), m_separateBands.end(), watched) ==
        m_separateBands.end()) {
        return QWidget::eventFilter(watched, event);
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            mousePressEvent(mouse);
            return true;
        case QEvent::MouseMove:
            OnFrameMouseMove(mouse, band);
            return true;
        case QEvent::MouseButtonRelease:
            mouseReleaseEvent(mouse);
            return true;
        case QEvent::Paint: {
            // In the dark phase the desktop, which composes every window, shows what is below.
            QPainter painter(band);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(band->rect(), m_bShapeBandVisible ? BandColor() : Qt::transparent);
            return true;
        }
        case QEvent::Show:  // the window exists now and is mapped right after
            MarkAsUtilityWindow(band->winId());
            return false;
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void CBrintelShotDlg::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    ShowSeparateBands();
}

void CBrintelShotDlg::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        ShowSeparateBands();  // minimised or back
    }
}
