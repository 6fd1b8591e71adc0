// The upload speed of the last ten minutes: one sample a second, drawn as a
// filled curve, with the speed limit as a line when one is set.
#pragma once

#include <QList>
#include <QWidget>

namespace tessaly {

class SpeedGraph : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kSamples = 600;

    explicit SpeedGraph(QWidget *parent = nullptr);

    // One second's bytes; the oldest sample goes once ten minutes are full.
    void addSample(qint64 bytes);
    // Bytes per second; 0 for no limit.
    void setLimit(qint64 bytesPerSecond);
    void clear();

    const QList<qint64> &samples() const { return samples_; }
    qint64 limit() const { return limit_; }
    // The top of the scale: the highest sample or the limit, whichever is
    // higher, with some room above (never 0).
    qint64 scaleTop() const;
    // The distance between two samples on a plot that wide: the samples so
    // far fill it until there are ten minutes of them.
    double sampleSpacing(double plotWidth) const;

    QSize sizeHint() const override { return {300, 110}; }
    QSize minimumSizeHint() const override { return {160, 70}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<qint64> samples_;
    qint64 limit_ = 0;
};

} // namespace tessaly
