#include "CorSweepGrid.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int Gap = 4; // between cells and around the grid
}

CorSweepGrid::CorSweepGrid(QWidget *parent)
    : QWidget(parent)
{
    setObjectName("SweepGrid");
    setMinimumSize(120, 100);
    setMouseTracking(false);
}

void CorSweepGrid::setPictures(const QList<QImage> &pictures, const QStringList &labels, int best)
{
    m_pictures = pictures;
    m_labels = labels;
    m_best = best;
    m_scaled.clear();
    m_scaledSide = -1;
    if (m_current >= count())
        m_current = -1;
    update();
}

void CorSweepGrid::setCurrent(int idx)
{
    if (idx == m_current)
        return;
    m_current = idx;
    update();
}

int CorSweepGrid::labelHeight() const
{
    return fontMetrics().height() + 2;
}

CorSweepGrid::Layout CorSweepGrid::layout() const
{
    // The column count that gives the largest thumbnails that all fit.
    Layout best;
    const int n = count();
    const int w = width() - Gap;
    const int h = height() - Gap;
    for (int columns = 1; columns <= std::max(1, n); ++columns) {
        const int rows = (std::max(1, n) + columns - 1) / columns;
        const int side = std::min(w / columns - Gap, h / rows - Gap - labelHeight());
        if (side > best.side) {
            best.columns = columns;
            best.side = side;
        }
    }
    best.side = std::max(best.side, 4);
    return best;
}

QRect CorSweepGrid::cellRect(int idx, const Layout &l) const
{
    const int cw = l.side + Gap;
    const int ch = l.side + Gap + labelHeight();
    return QRect(Gap + (idx % l.columns) * cw, Gap + (idx / l.columns) * ch, l.side, l.side);
}

QRect CorSweepGrid::pictureRect(int idx) const
{
    if (idx < 0 || idx >= count())
        return QRect();
    return cellRect(idx, layout());
}

int CorSweepGrid::indexAt(const QPoint &pos) const
{
    const Layout l = layout();
    for (int i = 0; i < count(); ++i)
        if (cellRect(i, l).adjusted(-1, -1, 1, 1 + labelHeight()).contains(pos))
            return i;
    return -1;
}

void CorSweepGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    update();
}

void CorSweepGrid::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (m_pictures.isEmpty())
        return;
    const Layout l = layout();
    if (m_scaledSide != l.side) {
        // Scaled once per size, not on every repaint: a sweep may hold hundreds of slices.
        m_scaled.clear();
        for (const QImage &img : std::as_const(m_pictures))
            m_scaled << img.scaled(l.side, l.side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        m_scaledSide = l.side;
    }
    QFont bold = font();
    bold.setBold(true);
    for (int i = 0; i < count(); ++i) {
        const QRect r = cellRect(i, l);
        p.drawImage(r.topLeft(), m_scaled.value(i));
        if (i == m_current) {
            p.setPen(QPen(palette().highlight().color(), 3));
            p.drawRect(r.adjusted(-2, -2, 1, 1));
        }
        p.setPen(palette().windowText().color());
        p.setFont(i == m_best ? bold : font());
        const QRect text(r.left() - Gap / 2, r.bottom() + 1, r.width() + Gap, labelHeight());
        p.drawText(text, Qt::AlignHCenter | Qt::AlignVCenter, m_labels.value(i));
    }
}

void CorSweepGrid::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int idx = indexAt(event->position().toPoint());
    if (idx < 0)
        return;
    setCurrent(idx);
    emit picked(idx);
}
