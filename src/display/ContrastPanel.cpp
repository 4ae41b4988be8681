#include "ContrastPanel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

ContrastPanel::ContrastPanel(QWidget *parent)
    : QFrame(parent)
    , m_canvas(new QWidget(this))
    , m_auto(new QPushButton(tr("Auto"), this))
    , m_text(new QLabel(this))
{
    m_canvas->setObjectName("ContrastHistogram");
    m_auto->setObjectName("ContrastAuto");
    m_text->setObjectName("ContrastText");
    m_canvas->setMinimumHeight(64);
    m_canvas->setMinimumWidth(120);
    m_canvas->setMouseTracking(true);
    m_canvas->installEventFilter(this);
    m_canvas->setToolTip(tr("Histogram of the last reconstructed slice: drag the red line (Min) "
                            "or the blue line (Max) to set the contrast of the CT pictures."));
    m_auto->setToolTip(tr("Min and Max at the 0.5 % and 99.5 % points of the values: a few "
                          "outlying pixels do not spoil the contrast."));
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_text, 1);
    row->addWidget(m_auto);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(m_canvas, 1);
    column->addLayout(row);
    connect(m_auto, &QPushButton::clicked, this, &ContrastPanel::useAutoLimits);
    showText();
}

void ContrastPanel::setValues(const double *v, std::size_t n)
{
    hist.compute(v, n, 128);
    ValueHistogram::autoLimits(v, n, m_autoLo, m_autoHi);
    m_auto->setEnabled(!hist.isEmpty());
    showText();
    m_canvas->update();
}

void ContrastPanel::setLimits(double lo, double hi)
{
    m_lo = lo;
    m_hi = hi;
    showText();
    m_canvas->update();
}

void ContrastPanel::useAutoLimits()
{
    if (hist.isEmpty())
        return;
    setLimits(m_autoLo, m_autoHi);
    emit limitsChanged(m_lo, m_hi);
}

void ContrastPanel::shownRange(double &a, double &b) const
{
    // The histogram fills the width; limits beyond it stand at its edges.
    a = hist.isEmpty() ? std::min(m_lo, m_hi) : hist.min();
    b = hist.isEmpty() ? std::max(m_lo, m_hi) : hist.max();
    if (!(b > a)) {
        a -= 0.5;
        b += 0.5;
    }
}

double ContrastPanel::xOf(double v) const
{
    double a, b;
    shownRange(a, b);
    return (v - a) / (b - a) * (m_canvas->width() - 1);
}

double ContrastPanel::valueAt(double x) const
{
    double a, b;
    shownRange(a, b);
    const int w = std::max(1, m_canvas->width() - 1);
    return a + std::clamp(x, 0.0, double(w)) / w * (b - a);
}

void ContrastPanel::showText()
{
    m_text->setText(
        tr("Min %1  Max %2").arg(QString::number(m_lo, 'g', 4), QString::number(m_hi, 'g', 4)));
}

void ContrastPanel::paintCanvas()
{
    QPainter p(m_canvas);
    const int w = m_canvas->width();
    const int h = m_canvas->height();
    p.fillRect(0, 0, w, h, QColor(32, 32, 32));
    if (!hist.isEmpty()) {
        // Counts on a root scale: the background's peak would flatten everything else.
        const auto &counts = hist.counts();
        const double top = std::sqrt(double(*std::max_element(counts.begin(), counts.end())));
        const double binW = (hist.max() - hist.min()) / double(counts.size());
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 200, 200));
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const double x0 = xOf(hist.min() + binW * double(i));
            const double x1 = binW > 0 ? xOf(hist.min() + binW * double(i + 1)) : x0 + 2;
            const double bh = top > 0 ? std::sqrt(double(counts[i])) / top * (h - 2) : 0;
            p.drawRect(QRectF(x0, h - bh, std::max(1.0, x1 - x0), bh));
        }
    }
    auto line = [&](double v, const QColor &c) {
        const double x = std::clamp(xOf(v), 1.0, double(w - 1));
        p.setPen(QPen(c, 2));
        p.drawLine(QPointF(x, 0), QPointF(x, h));
    };
    line(m_lo, QColor(255, 64, 64));
    line(m_hi, QColor(64, 160, 255));
}

bool ContrastPanel::eventFilter(QObject *o, QEvent *e)
{
    if (o != m_canvas)
        return false;
    switch (e->type()) {
    case QEvent::Paint:
        paintCanvas();
        return true;
    case QEvent::MouseButtonPress: {
        auto *me = static_cast<QMouseEvent *>(e);
        if (me->button() != Qt::LeftButton)
            return false;
        // The nearer line follows the pointer.
        const double x = me->position().x();
        const double right = m_canvas->width() - 1;
        const double xLo = std::clamp(xOf(m_lo), 0.0, right);
        const double xHi = std::clamp(xOf(m_hi), 0.0, right);
        dragging = std::abs(x - xLo) <= std::abs(x - xHi) ? 1 : 2;
        [[fallthrough]];
    }
    case QEvent::MouseMove: {
        auto *me = static_cast<QMouseEvent *>(e);
        if (!dragging)
            return false;
        const double v = valueAt(me->position().x());
        (dragging == 1 ? m_lo : m_hi) = v;
        showText();
        m_canvas->update();
        return true;
    }
    case QEvent::MouseButtonRelease: {
        if (!dragging)
            return false;
        const double v = valueAt(static_cast<QMouseEvent *>(e)->position().x());
        (dragging == 1 ? m_lo : m_hi) = v;
        dragging = 0;
        if (m_hi < m_lo)
            std::swap(m_lo, m_hi);
        showText();
        m_canvas->update();
        emit limitsChanged(m_lo, m_hi);
        return true;
    }
    default:
        return false;
    }
}
