#pragma once

#include <QImage>
#include <QList>
#include <QStringList>
#include <QWidget>

// The slices of a CoR sweep side by side: one thumbnail per slice, as large as the widget lets
// all of them be, each labelled with its centre; the chosen one is framed, the best one's label
// is bold. A click on a thumbnail picks it.
class CorSweepGrid : public QWidget
{
    Q_OBJECT
public:
    explicit CorSweepGrid(QWidget *parent = nullptr);

    // The pictures (already on one grey scale) with their labels, in order; `best` is marked.
    void setPictures(const QList<QImage> &pictures, const QStringList &labels, int best);
    void setCurrent(int idx);
    int current() const { return m_current; }
    int count() const { return int(m_pictures.size()); }
    QString label(int idx) const { return m_labels.value(idx); }
    // Where thumbnail `idx` is drawn (its picture, without the label); empty when none.
    QRect pictureRect(int idx) const;
    // The thumbnail under `pos` (picture or label), -1 for none.
    int indexAt(const QPoint &pos) const;

    QSize sizeHint() const override { return { 400, 300 }; }

signals:
    void picked(int idx);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Layout
    {
        int columns = 1;
        int side = 0; // of a picture
    };
    Layout layout() const;
    QRect cellRect(int idx, const Layout &l) const;
    int labelHeight() const;

    QList<QImage> m_pictures;
    QList<QImage> m_scaled; // at the side of the last paint
    int m_scaledSide = -1;
    QStringList m_labels;
    int m_best = -1;
    int m_current = -1;
};
