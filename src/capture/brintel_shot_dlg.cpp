#include "capture/brintel_shot_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QThread>
#include <QToolBar>
#include <QToolTip>
#include <QWindow>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

#include "capture/caption_text.h"
#include "capture/command_ids.h"
#include "capture/output_dir.h"
#include "capture/region_set_dlg.h"
#include "capture/toolbar_images.h"
#include "platform/tick_count.h"

using namespace frame_geometry;

namespace {
const QColor kCaptionColor(50, 50, 50);
const QColor kBandIdleColor(0, 255, 0);
const QColor kBandRecordingColor(255, 0, 0);
const QColor kColourKey(1, 1, 1);
const QColor kCaptionTextAreaColor(255, 0, 0);
const QColor kTextColor(255, 255, 255);

constexpr QSize kStartSize(335, 280);  // the original template's size at 96 DPI
constexpr int kCoordinatesRightGap = 5;
constexpr int kCaptionAreaRightGap = 125;
// The X protocol carries window sizes in 16 bits.
constexpr int64_t kMaxWindowSide = 32767;

const char kSizeTooSmallText[] = "크기가 너무 작습니다.";
const char kSizeTooLargeText[] = "크기가 너무 큽니다.";

QFont MakeCaptionFont() {
    QFont font;
    // Where Malgun Gothic is missing, NanumGothic has close metrics and Hangul in one face;
    // failing both, fontconfig picks a sans-serif face.
    font.setFamilies({QStringLiteral("맑은 고딕"), QStringLiteral("Malgun Gothic"),
                      QStringLiteral("NanumGothic")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(13);
    font.setWeight(QFont::ExtraBold);
    return font;
}

CaptureRect Inflated(const CaptureRect& r, int by) {
    return CaptureRect{r.left - by, r.top - by, r.right + by, r.bottom + by};
}

void ShowMessage(QWidget* parent, const char* text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("BrintelShot"), QString::fromUtf8(text),
                    QMessageBox::Ok, parent);
    box.setWindowModality(Qt::WindowModal);  // the tray icon stays usable meanwhile
    box.exec();
}
}  // namespace

CBrintelShotDlg::CBrintelShotDlg(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    // Every pixel but the toolbar's is painted from one off-screen image.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    resize(kStartSize);

    setMouseTracking(true);  // the resize zones show their cursors

    m_statusExpiry.setSingleShot(true);
    m_statusExpiry.setTimerType(Qt::PreciseTimer);
    connect(&m_statusExpiry, &QTimer::timeout, this, &CBrintelShotDlg::OnStatusExpiry);
    m_blinkTimer.setSingleShot(true);
    m_blinkTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_blinkTimer, &QTimer::timeout, this, &CBrintelShotDlg::OnBlinkStep);

    OnInitDialog();
}

CBrintelShotDlg::~CBrintelShotDlg() {
    StopRecording();
}

void CBrintelShotDlg::OnInitDialog() {
    g_strOutputDir = CurrentDirectory();
    InitCaptureFrame();
    // Without a window-manager frame the window and client rectangles are the same, so the
    // frame band's outer edge lies 4 pixels inside the window on every side.
    const QRect window = frameGeometry();
    const QRect client =
        geometry().adjusted(kRegionInset, kRegionInset, -kRegionInset, -kRegionInset);
    m_rcMargin = QMargins(client.left() - window.left(), client.top() - window.top(),
                          window.right() - client.right(), window.bottom() - client.bottom());
}

void CBrintelShotDlg::InitCaptureFrame() {
    CreateToolBar();
    LayoutToolBar();
    m_rcCapture = CaptureRegionForSize(width(), height(), m_nToolbarHeight);
    UpdateRegionOnScreen();
    ApplyMinimumSize();
    m_fontCaption = MakeCaptionFont();
    ApplyShape(true);
}

void CBrintelShotDlg::CreateToolBar() {
    m_pToolBar = new QToolBar(this);
    m_pToolBar->setMovable(false);
    m_pToolBar->setFloatable(false);
    m_pToolBar->setIconSize(QSize(kToolbarImageWidth, kToolbarImageHeight));
    m_pToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_pToolBar->setAutoFillBackground(true);
    for (int i = 0; i < int(std::size(kToolbarCommands)); ++i) {
        const int id = kToolbarCommands[i];
        QAction* action = m_pToolBar->addAction(ToolbarIcon(i), QString());
        action->setToolTip(CommandToolTip(id));
        action->setData(id);
        connect(action, &QAction::triggered, this, [this, id] { OnToolCommand(id); });
        if (id == ID_RECORD) {
            m_pRecordAction = action;
        }
    }
}

void CBrintelShotDlg::LayoutToolBar() {
    if (m_pToolBar == nullptr) {
        return;
    }
    m_nToolbarHeight = m_pToolBar->sizeHint().height();
    m_pToolBar->setGeometry(0, kCaptionHeight, width(), m_nToolbarHeight);
}

void CBrintelShotDlg::ShowRecordingImage(bool recording) {
    if (m_pRecordAction != nullptr) {
        m_pRecordAction->setIcon(ToolbarIcon(recording ? kRecordingImage : kRecordImage));
    }
}

QRect CBrintelShotDlg::ToolButtonRect(int id) const {
    if (m_pToolBar == nullptr) {
        return QRect();
    }
    for (QAction* action : m_pToolBar->actions()) {
        if (action->data().toInt() == id) {
            QWidget* button = m_pToolBar->widgetForAction(action);
            if (button == nullptr || !button->isVisible()) {
                return QRect();
            }
            return QRect(button->mapTo(this, QPoint(0, 0)), button->size());
        }
    }
    return QRect();
}

CaptureRect CBrintelShotDlg::CaptureRegion() const {
    return m_rcCapture;
}

CaptureRect CBrintelShotDlg::CaptureRegionOnScreen() const {
    // While recording, where the last frame was taken: that follows the window also while a
    // window manager drags it unseen.
    if (IsRecording()) {
        const CaptureRect recorded = m_recordingSession.LastRegion();
        if (!recorded.IsEmpty()) {
            return recorded;
        }
    }
    return m_rcCaptureOnScreen;
}

// Every move and size change comes here. A running recording finds the window's place on
// the screen by itself for every frame (a window manager's drag may move the window without
// telling it); it only needs to hear when the region changes inside the window.
void CBrintelShotDlg::UpdateRegionOnScreen() {
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    m_rcCaptureOnScreen =
        CaptureRect{m_rcCapture.left + origin.x(), m_rcCapture.top + origin.y(),
                    m_rcCapture.right + origin.x(), m_rcCapture.bottom + origin.y()};
    if (IsRecording()) {
        m_recordingSession.UpdateTarget(RecordingTarget());
    }
    ShowRegionOnScreen(m_rcCaptureOnScreen);
}

CCaptureTarget CBrintelShotDlg::RecordingTarget() {
    return CCaptureTarget{static_cast<unsigned long>(winId()), m_rcCapture};
}

void CBrintelShotDlg::ShowRegionOnScreen(const CaptureRect& regionOnScreen) {
    {
        std::lock_guard<std::mutex> lock(m_shownRegionLock);
        if (regionOnScreen == m_rcShownOnScreen) {
            return;
        }
        m_rcShownOnScreen = regionOnScreen;
    }
    InvalidateCaption();
}

void CBrintelShotDlg::SnapToWindowRect(const QRect& windowRect) {
    SetFrameGeometry(WindowRectForCaptureRect(windowRect, m_rcMargin, m_nToolbarHeight));
    show();
    raise();
}

void CBrintelShotDlg::OnClose() {
    hide();
}

void CBrintelShotDlg::HideByUser() {
    hide();
    emit hiddenByUser();
}

void CBrintelShotDlg::RunRegionSetting() {
    // The capture window is the dialog's parent so that the window manager keeps the
    // dialog above it; the capture window itself stays above everything else.
    CRegionSetDlg dlg(this);
    dlg.setWindowModality(Qt::WindowModal);  // the tray icon stays usable meanwhile
    if (dlg.DoModal() != CRegionSetDlg::IDOK) {
        return;
    }
    const int64_t windowWidth = int64_t(dlg.m_nWidth) + kExtraWidth;
    const int64_t windowHeight =
        int64_t(dlg.m_nHeight) + m_nToolbarHeight + kExtraHeightWithoutToolbar;
    // A negative height would turn the region inside out, so it counts as too small.
    if (windowWidth < kMinWindowWidth || windowHeight < kMinWindowHeight || dlg.m_nHeight < 0) {
        ShowMessage(this, kSizeTooSmallText);
        return;
    }
    if (windowWidth > kMaxWindowSide || windowHeight > kMaxWindowSide) {
        ShowMessage(this, kSizeTooLargeText);
        return;
    }
    SetFrameGeometry(QRect(pos(), QSize(int(windowWidth), int(windowHeight))));
    raise();
}

void CBrintelShotDlg::SetStatusText(const QString& text) {
    StoreStatusText(text, QString(), false);
}

void CBrintelShotDlg::SetLastingStatusText(const QString& text, const QString& fullText) {
    StoreStatusText(text, fullText, true);
}

void CBrintelShotDlg::StoreStatusText(const QString& text, const QString& fullText, bool lasting) {
    if (!m_statusLine.Set(text, fullText, lasting, GetTickCount())) {
        return;  // the caption already shows it; its expiry timer sees the new time stamp
    }
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                ScheduleStatusExpiry();
                InvalidateCaption();
            },
            Qt::QueuedConnection);
        return;
    }
    ScheduleStatusExpiry();
    InvalidateCaption();
}

// The status text must leave the caption when its second is over, even if nothing else
// repaints the window then: one repaint is scheduled for that moment.
void CBrintelShotDlg::ScheduleStatusExpiry() {
    const int remaining = m_statusLine.MsUntilExpiry(GetTickCount());
    if (remaining > 0) {
        m_statusExpiry.start(remaining);
    } else {
        m_statusExpiry.stop();
    }
}

void CBrintelShotDlg::OnStatusExpiry() {
    if (m_statusLine.MsUntilExpiry(GetTickCount()) > 0) {
        ScheduleStatusExpiry();  // kept fresh since, or the timer fired early
        return;
    }
    QToolTip::hideText();
    InvalidateCaption();
}

void CBrintelShotDlg::InvalidateCaption() {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this] { InvalidateCaption(); }, Qt::QueuedConnection);
        return;
    }
    update(QRect(0, 0, width(), kCaptionHeight));
}

void CBrintelShotDlg::InvalidateBands() {
    const int bandsTop = m_nToolbarHeight + kCaptionHeight;
    update(QRect(0, bandsTop, width(), height() - bandsTop));
    update(QRect(0, 0, width(), kCaptionHeight));
}

// The blink steps with a timer of its own, at the moments the band changes, so a recording
// costs no repaint per frame.
void CBrintelShotDlg::StartBlink() {
    const uint32_t now = GetTickCount();
    // A whole-window paint since the last blink may have left the band in another colour.
    m_paintedBandColor = QColor();
    ShowBand(m_blink.IsLitAt(now));  // red, not the idle green, when it starts lit
    m_blinkTimer.start(int(m_blink.MsUntilNextStep(now)));
}

void CBrintelShotDlg::OnBlinkStep() {
    if (!IsRecording()) {
        return;
    }
    const uint32_t now = GetTickCount();
    const bool lit = m_blink.IsLitAt(now);
    if (lit != m_bShapeBandVisible) {
        ShowBand(lit);
    }
    m_blinkTimer.start(int(m_blink.MsUntilNextStep(now)));
}

void CBrintelShotDlg::StopBlink() {
    m_blinkTimer.stop();
    m_paintedBandColor = QColor();
    ShowBand(true);  // green again
}

// The band is never seen in the colour key: painting fills it with its colour in either
// phase, and the dark phase only cuts it out of the shape. Where it rejoins the shape in
// another colour than it was last painted in (red once the recording starts, green once it
// ends) it is painted once more; a blink that rejoins it in the same colour only changes
// the shape, and the window's backing store shows it again, so a recording costs no
// repaint per blink.
void CBrintelShotDlg::ShowBand(bool visible) {
    ApplyShape(visible);
    const QColor color = BandColor();
    for (QWidget* band : m_separateBands) {
        if (band != nullptr) {
            band->update();
        }
    }
    if (visible && isVisible() && color != m_paintedBandColor) {
        const int bandsTop = m_nToolbarHeight + kCaptionHeight;
        repaint(QRect(0, bandsTop, width(), height() - bandsTop));
        m_paintedBandColor = color;
    }
}

QColor CBrintelShotDlg::BandColor() const {
    return IsRecording() ? kBandRecordingColor : kBandIdleColor;
}

void CBrintelShotDlg::ApplyShape(bool bandVisible) {
    setMask(OpaqueRegion(width(), height(), m_rcCapture, bandVisible));
    m_bShapeBandVisible = bandVisible;
}

void CBrintelShotDlg::OnSize(int cx, int cy) {
    m_rcCapture = CaptureRegionForSize(cx, cy, m_nToolbarHeight);
    UpdateRegionOnScreen();
    PlaceSeparateBands();
    LayoutToolBar();
    ApplyShape(m_bShapeBandVisible);
    InvalidateBands();
}

// A move changes only the caption's coordinates: the X server moves the window's pixels.
void CBrintelShotDlg::OnWindowPosChanged() {
    UpdateRegionOnScreen();
    PlaceSeparateBands();
}

void CBrintelShotDlg::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    OnSize(width(), FrameGeometry().height());
}

void CBrintelShotDlg::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    OnWindowPosChanged();
}

void CBrintelShotDlg::paintEvent(QPaintEvent*) {
    OnPaint();
}

bool CBrintelShotDlg::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        ShowCaptionToolTip(help->pos(), help->globalPos());
        return true;
    }
    return QWidget::event(event);
}

// The caption's tooltip gives the status text in full, which the caption may have to cut.
void CBrintelShotDlg::ShowCaptionToolTip(const QPoint& pos, const QPoint& globalPos) {
    const CStatusLine::State status = m_statusLine.At(GetTickCount());
    if (pos.y() >= kCaptionHeight || !status.fresh) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(globalPos, status.fullText, this, QRect(0, 0, width(), kCaptionHeight));
}

void CBrintelShotDlg::OnPaint() {
    const int W = width();
    const int H = height();
    QImage image(W, H, QImage::Format_RGB32);
    image.fill(kCaptionColor);  // the toolbar covers the rows below the caption band
    QPainter painter(&image);

    ++m_nPaintCount;
    painter.fillRect(QRect(0, 0, W, kCaptionHeight), kCaptionColor);
    // In the blink's dark phase the band is cut out of the shape, not painted in the key.
    painter.fillRect(ToQRect(Inflated(m_rcCapture, kRegionInset)), BandColor());
    painter.fillRect(ToQRect(m_rcCapture), kColourKey);

    painter.setFont(m_fontCaption);
    painter.setPen(kTextColor);
    {
        std::lock_guard<std::mutex> lock(m_shownRegionLock);
        m_strLastCoordinates = CoordinatesText(m_rcShownOnScreen);
    }
    painter.drawText(QRect(0, 0, W - kCoordinatesRightGap, kCaptionHeight),
                     Qt::TextSingleLine | Qt::AlignVCenter | Qt::AlignRight, m_strLastCoordinates);

    const CStatusLine::State status = m_statusLine.At(GetTickCount());
    const QFontMetrics metrics(m_fontCaption, &image);
    // The caption text area ends where the coordinates begin, however long they are.
    const int coordinatesLeft =
        W - kCoordinatesRightGap - metrics.horizontalAdvance(m_strLastCoordinates);
    const QRect captionArea(
        0, 0,
        std::max(0, std::min(W - kCaptionAreaRightGap, coordinatesLeft - kCoordinatesRightGap)),
        kCaptionHeight);
    // While paused the caption says so for as long as the pause lasts.
    const bool paused = IsRecordingPaused();
    m_strLastCaption = FitCaptionText(
        CaptionText(status.fresh || paused,
                    paused ? QString::fromUtf8(CRecordingSession::kStatusPaused) : status.text),
        captionArea.width(), [&metrics](const QString& s) { return metrics.horizontalAdvance(s); });
    painter.fillRect(captionArea, kCaptionTextAreaColor);
    painter.setClipRect(captionArea);
    painter.drawText(captionArea, Qt::TextSingleLine | Qt::AlignVCenter | Qt::AlignLeft,
                     m_strLastCaption);
    painter.end();

    QPainter(this).drawImage(0, 0, image);
}

void CBrintelShotDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressPos = event->globalPosition().toPoint();
    m_pressHit = DragHitAt(m_pressPos);
}

// During a recording the frame size is fixed, so only the caption drags (moves the window).
FrameHit CBrintelShotDlg::DragHitAt(const QPoint& globalPos) const {
    const FrameHit hit = FrameHitTest(FrameGeometry(), globalPos.x(), globalPos.y());
    return IsRecording() && hit != FrameHit::Caption ? FrameHit::Nowhere : hit;
}

void CBrintelShotDlg::LockSize(bool locked) {
    if (locked) {
        setFixedSize(size());  // the window manager's own resizing (Alt+drag) too
    } else {
        ApplyMinimumSize();
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    setCursor(Qt::ArrowCursor);
}

// A frame of separate windows resizes itself: the window manager would resize one of them.
void CBrintelShotDlg::StartFrameDrag(FrameHit hit, const QPoint& globalPos) {
    QWindow* window = windowHandle();
    const bool separate = HasSeparateBands();
    const bool handledByWindowManager =
        window != nullptr &&
        (hit == FrameHit::Caption ? window->startSystemMove()
                                  : !separate && window->startSystemResize(EdgesForHit(hit)));
    if (handledByWindowManager) {
        return;
    }
    m_dragHit = hit;
    m_dragStartPos = globalPos;
    m_dragStartGeometry = FrameGeometry();
}

void CBrintelShotDlg::mouseMoveEvent(QMouseEvent* event) {
    OnFrameMouseMove(event, this);
}

// piece: the window the pointer is over (this one, or a separate band), whose cursor shows the
// zone's sizing arrow.
void CBrintelShotDlg::OnFrameMouseMove(QMouseEvent* event, QWidget* piece) {
    if (m_pressHit != FrameHit::Nowhere && (event->buttons() & Qt::LeftButton)) {
        // The window follows the pointer from here on; a window manager takes this point
        // as the drag's start.
        StartFrameDrag(std::exchange(m_pressHit, FrameHit::Nowhere),
                       event->globalPosition().toPoint());
        return;
    }
    if (m_dragHit == FrameHit::Nowhere) {
        const QPoint global = event->globalPosition().toPoint();
        const Qt::CursorShape shape = CursorForHit(DragHitAt(global));
        if (piece->cursor().shape() != shape) {
            piece->setCursor(shape);
        }
        if (piece == this) {
            QWidget::mouseMoveEvent(event);
        }
        return;
    }
    const QPoint delta = event->globalPosition().toPoint() - m_dragStartPos;
    SetFrameGeometry(DraggedGeometry(m_dragStartGeometry, m_dragHit, delta, FrameMinimumSize()));
}

void CBrintelShotDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_pressHit = FrameHit::Nowhere;
        m_dragHit = FrameHit::Nowhere;
    }
    QWidget::mouseReleaseEvent(event);
}

void CBrintelShotDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            HideByUser();
            return;
        default:
            break;
    }
    if (event->key() == Qt::Key_F4 && (event->modifiers() & Qt::AltModifier)) {
        HideByUser();  // the close shortcut where no window manager takes it
        return;
    }
    if (OnCommandKey(event)) {
        return;
    }
    QWidget::keyPressEvent(event);
}

void CBrintelShotDlg::closeEvent(QCloseEvent* event) {
    // Closing never destroys the window: it only hides, and Ctrl+1 or the tray bring it back.
    event->ignore();
    HideByUser();
}

void CBrintelShotDlg::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ShowSeparateBands();
    activateWindow();
    setFocus();
}
