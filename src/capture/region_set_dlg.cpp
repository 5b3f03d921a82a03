#include "capture/region_set_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "capture/decimal_field.h"

namespace {
// The dialog is laid out in dialog units of its 8-point font, as the original template;
// one unit is about 1.5 pixels across and 1.625 pixels down at 96 DPI.
QRect FromDialogUnits(int x, int y, int width, int height) {
    auto across = [](int units) { return units * 3 / 2; };
    auto down = [](int units) { return units * 13 / 8; };
    return QRect(across(x), down(y), across(width), down(height));
}
}  // namespace

CRegionSetDlg::CRegionSetDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Region Setting"));
    setFixedSize(FromDialogUnits(0, 0, 175, 63).size());

    // The labels end where the template's do, but may grow leftwards for wider fonts.
    auto* widthLabel = new QLabel(QStringLiteral("Width :"), this);
    widthLabel->setGeometry(FromDialogUnits(4, 15, 44, 14));
    widthLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* heightLabel = new QLabel(QStringLiteral("Height :"), this);
    heightLabel->setGeometry(FromDialogUnits(4, 30, 44, 14));
    heightLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_pWidthEdit = new QLineEdit(this);
    m_pWidthEdit->setObjectName(QStringLiteral("width"));
    m_pWidthEdit->setGeometry(FromDialogUnits(50, 15, 55, 14));
    m_pHeightEdit = new QLineEdit(this);
    m_pHeightEdit->setObjectName(QStringLiteral("height"));
    m_pHeightEdit->setGeometry(FromDialogUnits(50, 30, 55, 14));

    auto* apply = new QPushButton(QStringLiteral("Apply"), this);
    apply->setGeometry(FromDialogUnits(111, 30, 50, 14));
    // Default button: Enter in either field acts like Apply, so both fields are always read.
    apply->setDefault(true);
    connect(apply, &QPushButton::clicked, this, &CRegionSetDlg::OnApply);

    setTabOrder(m_pWidthEdit, m_pHeightEdit);
    setTabOrder(m_pHeightEdit, apply);
    m_pWidthEdit->setFocus();
}

int CRegionSetDlg::DoModal() {
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CRegionSetDlg::OnApply() {
    m_nWidth = ParseDecimalField(m_pWidthEdit->text());
    m_nHeight = ParseDecimalField(m_pHeightEdit->text());
    accept();
}
