// The caption band's context menu: the about box, the output folder, the pointer option and
// the sound sources.
#include "capture/brintel_shot_dlg.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QMenu>

#include "capture/frame_geometry.h"
#include "capture/output_dir.h"

namespace {
const char kAboutItemText[] = "BrintelShot 정보(&A)...";
const char kOutputFolderItemText[] = "Output folder...";
const char kRecordPointerItemText[] = "Record mouse pointer";
const char kRecordSoundMenuText[] = "Record sound";
// In the order of AudioChoice.
const char* const kSoundItemTexts[] = {"No sound", "Desktop sound", "Microphone",
                                       "Desktop sound and microphone"};
const char kOutputFolderTitle[] = "Output folder";
}  // namespace

void CBrintelShotDlg::contextMenuEvent(QContextMenuEvent* event) {
    if (event->pos().y() >= frame_geometry::kCaptionHeight) {
        QWidget::contextMenuEvent(event);
        return;
    }
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromUtf8(kAboutItemText));
    QAction* folder = menu.addAction(QString::fromUtf8(kOutputFolderItemText));
    QAction* pointer = menu.addAction(QString::fromUtf8(kRecordPointerItemText));
    pointer->setCheckable(true);
    pointer->setChecked(m_bRecordPointer);
    QMenu* sound = menu.addMenu(QString::fromUtf8(kRecordSoundMenuText));
    QActionGroup sources(sound);
    for (int i = 0; i < 4; ++i) {
        QAction* item = sources.addAction(QString::fromUtf8(kSoundItemTexts[i]));
        item->setCheckable(true);
        item->setChecked(static_cast<int>(m_soundChoice) == i);
        item->setData(i);
        sound->addAction(item);
    }
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == about) {
        emit aboutRequested();
    } else if (chosen == folder) {
        ChooseOutputFolder();
    } else if (chosen == pointer) {
        m_bRecordPointer = pointer->isChecked();
        emit recordPointerChosen(m_bRecordPointer);
    } else if (chosen != nullptr && chosen->actionGroup() == &sources) {
        m_soundChoice = static_cast<AudioChoice>(chosen->data().toInt());
        emit recordSoundChosen(m_soundChoice);
    }
}

void CBrintelShotDlg::ChooseOutputFolder() {
    QFileDialog dialog(this, QString::fromUtf8(kOutputFolderTitle),
                       QFile::decodeName(g_strOutputDir.c_str()));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setWindowModality(Qt::WindowModal);  // the tray icon stays usable meanwhile
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString chosen = dialog.selectedFiles().constFirst();
    g_strOutputDir = QFile::encodeName(chosen).toStdString();
    const std::string problem = OutputFolderProblem(g_strOutputDir);
    if (problem.empty()) {
        ShowStatus(chosen);
    } else {
        ShowFailure("", problem);
    }
    emit outputFolderChosen(chosen);
}
