#include "app/windows/TAbout.h"

#include "app/windows/Pictures.h"
#include "settings/TProgId.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace kavrel {

TAbout::TAbout(const TProgId& progId, QWidget* parent) : QDialog(parent)
{
    setObjectName("About");
    const QString product = QString::fromStdString(progId.ProductName());
    setWindowTitle("About " + product);

    auto* icon = new QLabel(this);
    icon->setObjectName("ProgramIcon");
    QPixmap pm = AppIconPixmap(2 * 64);
    pm.setDevicePixelRatio(2.0);
    icon->setPixmap(pm);
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    m_title = new QLabel(product, this);
    m_title->setObjectName("ProductName");
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 2);
    big.setBold(true);
    m_title->setFont(big);

    m_version = new QLabel("Version " + QString::fromStdString(progId.ProgramVersion()), this);
    m_version->setObjectName("Version");
    m_rights = new QLabel(QString("Copyright \u00a9 %1. All rights reserved.")
                              .arg(QString::fromStdString(progId.Company())),
                          this);
    m_rights->setObjectName("Copyright");
    m_rights->setWordWrap(true);
    m_compiled = new QLabel(QString("Compiled %1 %2").arg(__DATE__, __TIME__), this);
    m_compiled->setObjectName("CompileDate");
    m_systems = new QLabel("Runs on Linux desktops (X11 and Wayland) with a sound server "
                           "(PulseAudio or PipeWire).",
                           this);
    m_systems->setObjectName("Systems");
    m_systems->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_title);
    texts->addWidget(m_version);
    texts->addSpacing(8);
    texts->addWidget(m_rights);
    texts->addWidget(m_compiled);
    texts->addWidget(m_systems);
    texts->addStretch(1);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addLayout(texts, 1);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(row);
    outer->addWidget(buttons);
    setFixedWidth(420);
}

} // namespace kavrel
