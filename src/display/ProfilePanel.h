#pragma once

#include "LineProfile.h"

#include <QFrame>

#include <vector>

class QLabel;
class QPushButton;

// The plot of the values along a profile line drawn on an image view, with the line's length,
// the values' range and "Export CSV". The owner samples the values and hands them over.
class ProfilePanel : public QFrame
{
    Q_OBJECT
public:
    explicit ProfilePanel(QWidget *parent = nullptr);

    void setPoints(std::vector<LineProfile::Point> points);
    const std::vector<LineProfile::Point> &points() const { return m_points; }
    // Distances in the CSV and the text are multiplied by a pixel size > 0 named by `unit`.
    void setPixelSize(double size, const QString &unit);
    QWidget *canvas() const { return m_canvas; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *closeButton() const { return m_close; }
    QString text() const;

signals:
    // "Close" was pressed: the owner removes the line.
    void closeRequested();

public slots:
    // Writes the points as CSV; false (reported on the log) when the file cannot be written.
    bool exportCsv(const QString &path);

protected:
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    void askExport();
    void paintCanvas();
    void showText();

    std::vector<LineProfile::Point> m_points;
    double m_pixelSize = 0;
    QString m_unit;
    QWidget *m_canvas;
    QPushButton *m_export;
    QPushButton *m_close;
    QLabel *m_text;
};
