#pragma once

#include <QDialog>

class QLineEdit;

// Asks for the capture region's width and height in pixels. Apply (or Enter) accepts,
// Esc or closing the dialog cancels. Both fields start empty.
class CRegionSetDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int IDOK = 1;
    static constexpr int IDCANCEL = 2;

    explicit CRegionSetDlg(QWidget* parent = nullptr);

    // Runs the dialog modally: IDOK when accepted, IDCANCEL when cancelled.
    int DoModal();

    int m_nWidth = 0;
    int m_nHeight = 0;

private:
    void OnApply();

    QLineEdit* m_pWidthEdit;
    QLineEdit* m_pHeightEdit;
};
