#pragma once

#include <QFrame>
#include <QString>

#include <memory>

class QFileDialog;
class QHBoxLayout;
namespace Ui {
class SelectAFile;
}

// One file to read (mode 0) or the folder and name under which results are saved (mode 1).
// The chosen name arrives through `fileSelected0`, from the dialog or from any caller that
// already knows it (batch commands, tests).
class SelectAFile : public QFrame
{
    Q_OBJECT
public:
    explicit SelectAFile(QWidget *parent = nullptr);
    ~SelectAFile() override;

    int mode = 0;
    // In mode 0, whether several files may be chosen at once; they are then announced as
    // one name, joined by '|' (the average of images, see ImgReaders).
    bool severalFiles = false;

    void setMode(int m);
    // The dialog, made on first use so that a window full of selectors does not scan
    // folders at start; it opens in the data root directory.
    QFileDialog *fileDialog();

    QString filePath() const;
    void setFilePath(const QString &path);
    QString name() const;
    void setName(const QString &name);
    QString addTag() const;
    void setAddTag(const QString &tag);
    // The name and tag fields are for the save selectors only.
    void setNameTagVisible(bool f);
    void setButtonText(const QString &text);

signals:
    void fileSelected(QString fname);
    void clear();

public slots:
    void setStat(bool f);
    void fileSelected0(QString fname);
    void clear0();
    void showDialog();

protected:
    // The row of the form, for derived selectors that add their own controls to it.
    QHBoxLayout *rowLayout() const;

private:
    void applyMode();

    std::unique_ptr<Ui::SelectAFile> ui;
    QFileDialog *dialog = nullptr;
    const bool nativeDialog;
};
