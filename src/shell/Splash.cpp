#include "shell/Splash.h"

#include "common/AppState.h"
#include "shell/Icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tessaly {

SplashWindow::SplashWindow(QWidget *owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(u"frmSplash"_s);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setStyleSheet(u"#frmSplash { background: #0f766e; } QLabel { color: white; }"_s);
    auto *icon = new QLabel(this);
    icon->setPixmap(Icons::appIcon().pixmap(48, 48));
    auto *title = new QLabel(QString::fromUtf16(kProgramName), this);
    QFont f = title->font();
    f.setPointSizeF(f.pointSizeF() * 1.8);
    f.setBold(true);
    title->setFont(f);
    auto *version = new QLabel(versionString(), this);
    lblLoad = new QLabel(this);
    lblLoad->setObjectName(u"lblLoad"_s);

    auto *head = new QHBoxLayout;
    head->addWidget(icon);
    auto *names = new QVBoxLayout;
    names->addWidget(title);
    names->addWidget(version);
    head->addLayout(names, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->addLayout(head);
    layout->addSpacing(18);
    layout->addWidget(lblLoad);
    setFixedSize(420, 170);
}

void SplashWindow::setText(const QString &text)
{
    lblLoad->setText(text);
}

QString SplashWindow::text() const
{
    return lblLoad->text();
}

} // namespace tessaly
