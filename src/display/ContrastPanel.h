#pragma once

#include "ValueHistogram.h"

#include <QFrame>

class QLabel;
class QPushButton;

// The contrast of the reconstructed pictures, set on the histogram of the last one: either
// limit is dragged on the histogram, or "Auto" puts them at the 0.5 % and 99.5 % quantiles,
// which a few hot or dead pixels do not move. The owner applies the limits.
class ContrastPanel : public QFrame
{
    Q_OBJECT
public:
    explicit ContrastPanel(QWidget *parent = nullptr);

    // The picture's values (copied into the histogram; the auto limits are worked out now).
    void setValues(const double *v, std::size_t n);
    // Shows limits set elsewhere (typed Min and Max); announces nothing.
    void setLimits(double lo, double hi);
    double lo() const { return m_lo; }
    double hi() const { return m_hi; }
    double autoLo() const { return m_autoLo; }
    double autoHi() const { return m_autoHi; }
    const ValueHistogram &histogram() const { return hist; }
    QWidget *canvas() const { return m_canvas; }
    QPushButton *autoButton() const { return m_auto; }

    // The canvas column of a value and the value of a column, over the range shown: the
    // histogram's (the limits' while there is none).
    double xOf(double v) const;
    double valueAt(double x) const;

signals:
    // The user dragged a limit or pressed "Auto".
    void limitsChanged(double lo, double hi);

public slots:
    void useAutoLimits();

protected:
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void shownRange(double &a, double &b) const;
    void paintCanvas();
    void showText();

    ValueHistogram hist;
    double m_lo = 0;
    double m_hi = 1;
    double m_autoLo = 0;
    double m_autoHi = 1;
    // 0 none, 1 the lower limit, 2 the upper limit.
    int dragging = 0;
    QWidget *m_canvas;
    QPushButton *m_auto;
    QLabel *m_text;
};
