#pragma once

#include <QDialog>

class QLabel;

namespace kalvor {

// The About box: application icon, "Kalvor", "Version : " and the version text.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* VersionText() const { return m_version; }

protected:
    bool OnInitDialog();

private:
    QLabel* m_version = nullptr; // 1028
};

} // namespace kalvor
