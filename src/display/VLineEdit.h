#pragma once

#include <QGraphicsView>

class QLineEdit;

// A line edit turned on its side, for labels and values along a vertical bar.
class VLineEdit : public QGraphicsView
{
    Q_OBJECT
public:
    explicit VLineEdit(QWidget *parent = nullptr);

    QLineEdit *lineEdit() const { return le; }
    QString text() const;
    void setText(const QString &t);
    QSize sizeHint() const override;

private:
    QLineEdit *le;
};
