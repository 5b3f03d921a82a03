#include "app/startup_repair.h"

#include "app/repair_command.h"

CStartupRepair::~CStartupRepair() {
    m_bCancel = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CStartupRepair::Start(const std::string& folder) {
    m_thread = std::thread([this, folder] {
        const std::string text = RepairUnfinishedRecordings(folder, &m_bCancel);
        if (!text.empty() && !m_bCancel) {
            QMetaObject::invokeMethod(
                this, [this, text] { emit finished(QString::fromStdString(text)); },
                Qt::QueuedConnection);
        }
    });
}
