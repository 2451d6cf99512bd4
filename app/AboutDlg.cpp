#include "AboutDlg.h"

#include "DialogBuilder.h"
#include "DialogTemplate.h"
#include "Resources.h"

#include <QLabel>
#include <QPushButton>

namespace kalvor {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    const std::map<int, QWidget*> controls = BuildDialog(this, res::kAboutDialog);
    m_version = qobject_cast<QLabel*>(controls.at(1028));
    if (auto* ok = qobject_cast<QPushButton*>(controls.at(1)))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setWindowIcon(LoadIcon(128));
    OnInitDialog();
}

bool CAboutDlg::OnInitDialog() {
    m_version->setText(res::String(res::IDS_VERSION)); // empty when the string is missing
    return true;
}

} // namespace kalvor
