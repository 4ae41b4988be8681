#pragma once

#include "XafsI0Table.h"

#include <QFrame>
#include <QString>

#include <memory>

class SelectAFile;
namespace Ui {
class I0ofImage;
}

// The incident intensity that belongs to an image series: a fixed number, or the I0 of the
// beamline's XAFS scan at the energy written into the image file names. The chosen scan
// file is read at once into `table`.
class I0ofImage : public QFrame
{
    Q_OBJECT
public:
    explicit I0ofImage(QWidget *parent = nullptr);
    ~I0ofImage() override;

    XafsI0Table table;

    void setTitle(const QString &title);
    QString title() const;
    double i0Val() const; // 0 when the field is not a number
    void setI0Val(double v);
    bool calcFromXafs() const;
    void setCalcFromXafs(bool f);
    SelectAFile *xafsFileSelector() const;
    QString xafsFile() const;
    void setXafsFile(const QString &fileName);
    void clearXafsFile();
    QString engPattern() const;
    void setEngPattern(const QString &pattern);

    // I0 for an image file: from the scan at the energy that `EngPattern` finds in the file
    // name (or else in the name of its folder) when "Calc from XAFS file" is checked and the
    // scan has points; otherwise, and for a name without an energy (said on the log), the
    // fixed value.
    double i0ForImage(const QString &imageFileName) const;

private slots:
    void xafsFileChosen(const QString &fileName);
    void xafsFileCleared();

private:
    std::unique_ptr<Ui::I0ofImage> ui;
};
