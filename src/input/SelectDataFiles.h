#pragma once

#include "FolderLayout.h"

#include "DxchangeFile.h"

#include <QFileInfoList>
#include <QFrame>
#include <QString>
#include <QStringList>

#include <memory>

class QFileDialog;
namespace Ui {
class SelectDataFiles;
}

// Chooses the projection files of one measurement (or, in plain mode, the I0 files of a
// CT-XAFS series) and lists those that the main window managed to load. Choosing only
// announces the names (`filesSelected`); the list is filled through `appendFile` as the
// files load, so it shows exactly what the image set holds.
class SelectDataFiles : public QFrame
{
    Q_OBJECT
public:
    explicit SelectDataFiles(QWidget *parent = nullptr);
    ~SelectDataFiles() override;

    // More copies than any measurement could hold in memory would only make an enormous
    // list of names; a larger repetition count is cut to this.
    static constexpr int MaxMultiTimes = 100000;

    QFileDialog *fileDialog();

    void handleChosenFiles(QStringList list);
    void loadFromDir(const QString &dir, const QStringList &patterns);
    void loadFileInfos(const QFileInfoList &list);
    // Puts a loaded file at the end of the list and shows the new count.
    void appendFile(const QString &name);
    // Shows that `missing` listed files could not be loaded (the count turns red and gives
    // loaded / listed); 0 shows the plain count again.
    void setMissing(int missing);

    int count() const;
    QStringList files() const;
    int currentIndex() const;
    QString currentFile() const;

    // Hides the controls that only projection files need; every choice replaces the list.
    void setPlainMode();
    bool loadNewFiles() const;
    void setLoadNewFiles(bool f);
    bool keepConditions() const;
    void setKeepConditions(bool f);
    bool loadMultiTimes() const;
    void setLoadMultiTimes(bool f);
    int multiTimes() const; // the repetition count, 0 when the field is not an integer
    void setMultiTimes(int n);
    void setButtonText(const QString &text);
    // Puts `w` into the row of the "Data Select" button, right after it.
    void addBesideSelect(QWidget *w);
    void setLabelText(const QString &text); // the count label
    // The unit of the angles of HDF5 files that state none, or overriding the one they
    // state: "rad", "deg", or empty (the file's own, refused when they look like radians).
    QString thetaUnits;
    // The NXtomo entry to take from a file of several ("/entry1"); empty: the only one.
    QString nxEntry;
    // Name beginnings (any case) of the flats and darks that a projection folder may hold
    // beside its projections.
    QStringList flatNames = FolderLayout::defaultFlatNames();
    QStringList darkNames = FolderLayout::defaultDarkNames();

signals:
    void currentIndexChanged(int idx);
    void filesSelected(QStringList files, bool newFile);
    void filesCleared();
    // An HDF5 (DXchange) file was chosen; its projections follow in filesSelected. The
    // receiver takes its white, dark and angles.
    void hdf5Chosen(QString path, DxchangeFile::Info info);
    // Flats and darks found in a projection folder (by their names, or in flats/ and
    // darks/ beside tomo/): the names of their averages (see ImgReaders), empty for none.
    // The receiver takes them as the I0 and BG images.
    void referencesFound(QString flat, QString dark);

public slots:
    void clearFiles();
    void prev();
    void next();
    void select(int idx);
    void setExpTime(double time);
    double expTime();
    void showDialog();

private:
    void showCount();

    std::unique_ptr<Ui::SelectDataFiles> ui;
    QFileDialog *dialog = nullptr;
    QString dialogDir;
    int missing = 0;
    const bool nativeDialog;
    bool plain = false;
};
