#include "ProfilePanel.h"

#include "Places.h"
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

ProfilePanel::ProfilePanel(QWidget *parent)
    : QFrame(parent)
    , m_canvas(new QWidget(this))
    , m_export(new QPushButton(tr("Export CSV"), this))
    , m_close(new QPushButton(tr("Close"), this))
    , m_text(new QLabel(this))
{
    setObjectName("ProfilePanel");
    m_canvas->setObjectName("ProfilePlot");
    m_export->setObjectName("ProfileExport");
    m_close->setObjectName("ProfileClose");
    m_text->setObjectName("ProfileText");
    m_canvas->setMinimumHeight(90);
    m_canvas->installEventFilter(this);
    m_canvas->setToolTip(tr("Values along the green line drawn on the picture (Ctrl+drag), from "
                            "its marked start; Ctrl+right click removes the line."));
    m_export->setToolTip(tr("Write the profile as a CSV file: distance and value per line."));
    m_close->setToolTip(tr("Remove the profile line and this plot."));
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_text, 1);
    row->addWidget(m_export);
    row->addWidget(m_close);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(m_canvas, 1);
    column->addLayout(row);
    connect(m_export, &QPushButton::clicked, this, &ProfilePanel::askExport);
    connect(m_close, &QPushButton::clicked, this, &ProfilePanel::closeRequested);
    showText();
}

void ProfilePanel::setPoints(std::vector<LineProfile::Point> points)
{
    m_points = std::move(points);
    m_export->setEnabled(!m_points.empty());
    showText();
    m_canvas->update();
}

void ProfilePanel::setPixelSize(double size, const QString &unit)
{
    m_pixelSize = size > 0 && std::isfinite(size) ? size : 0;
    m_unit = unit;
    showText();
}

QString ProfilePanel::text() const
{
    return m_text->text();
}

void ProfilePanel::showText()
{
    if (m_points.empty()) {
        m_text->setText(tr("No values along the line"));
        return;
    }
    double lo = m_points.front().value;
    double hi = lo;
    for (const LineProfile::Point &p : m_points) {
        lo = std::min(lo, p.value);
        hi = std::max(hi, p.value);
    }
    const bool scaled = m_pixelSize > 0 && !m_unit.isEmpty();
    const double len = m_points.back().distance * (scaled ? m_pixelSize : 1.0);
    m_text->setText(tr("Length %1 %2  Min %3  Max %4")
                        .arg(QString::number(len, 'g', 4), scaled ? m_unit : tr("px"),
                            QString::number(lo, 'g', 4), QString::number(hi, 'g', 4)));
}

bool ProfilePanel::exportCsv(const QString &path)
{
    return LineProfile::writeCsv(path, m_points, m_pixelSize, m_unit);
}

void ProfilePanel::askExport()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export the profile"),
        Places::dialogFolder("profileCsv", QString()), tr("CSV files (*.csv);;All files (*)"));
    Places::rememberDialogFolder("profileCsv", path);
    if (!path.isEmpty())
        exportCsv(path);
}

void ProfilePanel::paintCanvas()
{
    QPainter p(m_canvas);
    const int w = m_canvas->width();
    const int h = m_canvas->height();
    p.fillRect(0, 0, w, h, QColor(32, 32, 32));
    if (m_points.empty())
        return;
    double lo = m_points.front().value;
    double hi = lo;
    for (const LineProfile::Point &pt : m_points) {
        lo = std::min(lo, pt.value);
        hi = std::max(hi, pt.value);
    }
    if (!(hi > lo)) {
        lo -= 0.5;
        hi += 0.5;
    }
    const double len = m_points.back().distance > 0 ? m_points.back().distance : 1.0;
    const double m = 4; // margin, so the curve's extremes stay in sight
    auto toScreen = [&](const LineProfile::Point &pt) {
        return QPointF(
            m + pt.distance / len * (w - 2 * m), h - m - (pt.value - lo) / (hi - lo) * (h - 2 * m));
    };
    // The value 0, where it is inside the range, as a reference line.
    if (lo < 0 && hi > 0) {
        const double y0 = h - m - (0 - lo) / (hi - lo) * (h - 2 * m);
        p.setPen(QPen(QColor(96, 96, 96), 1, Qt::DashLine));
        p.drawLine(QPointF(0, y0), QPointF(w, y0));
    }
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path(toScreen(m_points.front()));
    for (size_t i = 1; i < m_points.size(); ++i)
        path.lineTo(toScreen(m_points[i]));
    p.setPen(QPen(QColor(0, 220, 0), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.setPen(QColor(220, 220, 220));
    p.drawText(
        QRectF(2, 1, w - 4, h - 2), Qt::AlignLeft | Qt::AlignTop, QString::number(hi, 'g', 4));
    p.drawText(
        QRectF(2, 1, w - 4, h - 2), Qt::AlignLeft | Qt::AlignBottom, QString::number(lo, 'g', 4));
}

bool ProfilePanel::eventFilter(QObject *o, QEvent *e)
{
    if (o == m_canvas && e->type() == QEvent::Paint) {
        paintCanvas();
        return true;
    }
    return false;
}
