#include "capture/region_set_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "capture/decimal_field.h"

CRegionSetDlg::CRegionSetDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Region Setting"));

    // Laid out by the font's own measures, so every text fits at any size and resolution.
    auto* widthLabel = new QLabel(QStringLiteral("Width :"), this);
    auto* heightLabel = new QLabel(QStringLiteral("Height :"), this);
    m_pWidthEdit = new QLineEdit(this);
    m_pWidthEdit->setObjectName(QStringLiteral("width"));
    m_pHeightEdit = new QLineEdit(this);
    m_pHeightEdit->setObjectName(QStringLiteral("height"));
    auto* apply = new QPushButton(QStringLiteral("Apply"), this);
    // Default button: Enter in either field acts like Apply, so both fields are always read.
    apply->setDefault(true);
    connect(apply, &QPushButton::clicked, this, &CRegionSetDlg::OnApply);

    // Fields about seven digits wide, as the original layout's.
    const int fieldWidth = m_pWidthEdit->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 10;
    m_pWidthEdit->setMinimumWidth(fieldWidth);
    m_pHeightEdit->setMinimumWidth(fieldWidth);

    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->addWidget(widthLabel, 0, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(m_pWidthEdit, 0, 1);
    grid->addWidget(heightLabel, 1, 0, Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(m_pHeightEdit, 1, 1);
    grid->addWidget(apply, 1, 2);

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
