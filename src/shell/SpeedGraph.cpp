#include "shell/SpeedGraph.h"

#include "common/GeneralFunc.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tessaly {

SpeedGraph::SpeedGraph(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"speedGraph"_s);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

void SpeedGraph::addSample(qint64 bytes)
{
    samples_.append(std::max<qint64>(bytes, 0));
    if (samples_.size() > kSamples)
        samples_.remove(0, samples_.size() - kSamples);
    update();
}

void SpeedGraph::setLimit(qint64 bytesPerSecond)
{
    const qint64 limit = std::max<qint64>(bytesPerSecond, 0);
    if (limit == limit_)
        return;
    limit_ = limit;
    update();
}

void SpeedGraph::clear()
{
    samples_.clear();
    update();
}

qint64 SpeedGraph::scaleTop() const
{
    qint64 top = limit_;
    for (qint64 s : samples_)
        top = std::max(top, s);
    // A round number above the top: a power of ten times 1, 1.2, 1.5 ... 8.
    const double wanted = std::max(double(top) * 1.05, 10000.0);
    double step = 1;
    while (step * 10 <= wanted)
        step *= 10;
    for (double m : {1.0, 1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0})
        if (step * m >= wanted)
            return qint64(step * m);
    return qint64(step * 10);
}

double SpeedGraph::sampleSpacing(double plotWidth) const
{
    const qsizetype shown = std::clamp<qsizetype>(samples_.size(), 2, kSamples);
    return plotWidth / double(shown - 1);
}

void SpeedGraph::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.fillRect(rect(), pal.base());
    p.setPen(pal.color(QPalette::Mid));
    p.drawRect(frame);

    const QFontMetrics fm(font());
    const QRectF plot = frame.adjusted(4, fm.height() + 4, -4, -4);
    const double top = double(scaleTop());
    const auto yOf = [&](double bytes) { return plot.bottom() - plot.height() * std::min(bytes / top, 1.0); };
    const double dx = sampleSpacing(plot.width());

    // Grid: quarters of the scale.
    p.setPen(QPen(pal.color(QPalette::Midlight), 1, Qt::DotLine));
    for (int i = 1; i < 4; ++i)
        p.drawLine(QPointF(plot.left(), plot.top() + plot.height() * i / 4),
                   QPointF(plot.right(), plot.top() + plot.height() * i / 4));

    // The newest sample sits at the right edge.
    if (!samples_.isEmpty()) {
        const double x0 = plot.right() - dx * double(samples_.size() - 1);
        QPainterPath curve;
        curve.moveTo(x0, plot.bottom());
        for (qsizetype i = 0; i < samples_.size(); ++i)
            curve.lineTo(x0 + dx * double(i), yOf(double(samples_[i])));
        curve.lineTo(plot.right(), plot.bottom());
        curve.closeSubpath();
        QColor fill = pal.color(QPalette::Highlight);
        fill.setAlpha(90);
        p.fillPath(curve, fill);
        p.setPen(QPen(pal.color(QPalette::Highlight), 1.5));
        QPainterPath line;
        line.moveTo(x0, yOf(double(samples_.front())));
        for (qsizetype i = 1; i < samples_.size(); ++i)
            line.lineTo(x0 + dx * double(i), yOf(double(samples_[i])));
        p.drawPath(line);
    }
    if (limit_ > 0) {
        p.setPen(QPen(QColor(0xc0, 0x39, 0x2b), 1.5, Qt::DashLine));
        p.drawLine(QPointF(plot.left(), yOf(double(limit_))), QPointF(plot.right(), yOf(double(limit_))));
    }

    // The scale and the latest speed, above the plot.
    p.setPen(pal.color(QPalette::Text));
    const QRectF header = frame.adjusted(4, 2, -4, 0);
    p.drawText(header, Qt::AlignLeft | Qt::AlignTop, kbPerSecond(top / 1000.0));
    if (!samples_.isEmpty())
        p.drawText(header, Qt::AlignRight | Qt::AlignTop, kbPerSecond(double(samples_.back()) / 1000.0));
}

} // namespace tessaly
