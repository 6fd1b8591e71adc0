// The window shown while the program loads, with one line that names the step.
#pragma once

#include <QWidget>

class QLabel;

namespace tessaly {

class SplashWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SplashWindow(QWidget *owner);
    void setText(const QString &text);
    QString text() const;

private:
    QLabel *lblLoad = nullptr;
};

} // namespace tessaly
