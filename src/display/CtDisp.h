#pragma once

#include <QFrame>
#include <QImage>
#include <QList>

#include <memory>

class ImgDisp;
class SeekCtrl;

namespace Ui {
class CtDisp;
}

// The reconstructed slice pictures of a run, kept in ascending slice number and stepped
// through with a seek control.
class CtDisp : public QFrame
{
    Q_OBJECT
public:
    struct Entry
    {
        int no;
        QImage img;
    };

    explicit CtDisp(QWidget *parent = nullptr);
    ~CtDisp() override;

    int count() const { return entries.size(); }
    int sliceNo(int idx) const { return entries.at(idx).no; }
    QList<int> sliceNumbers() const;
    ImgDisp *display() const;
    SeekCtrl *seeker() const;

public slots:
    void clear();
    void addImg(int no, const QImage &img);
    void showImg(int idx);
    QList<QImage> getQImages();

private:
    std::unique_ptr<Ui::CtDisp> ui;
    QList<Entry> entries;
};
