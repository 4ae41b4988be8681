#pragma once

#include <QFrame>
#include <QString>

#include <memory>

class QFileDialog;
namespace Ui {
class SelectDir;
}

// Chooses a folder. The choice arrives through `chooseDir`, from the dialog or from a
// caller that already knows the folder.
class SelectDir : public QFrame
{
    Q_OBJECT
public:
    explicit SelectDir(QWidget *parent = nullptr);
    ~SelectDir() override;

    QFileDialog *fileDialog();
    QString dirName() const;
    void setButtonText(const QString &text);

signals:
    void aDirSelected(QString dir);

public slots:
    // Shows dir as the current folder and opens the dialog there next time; announces
    // nothing.
    void setDirName(QString dir);
    // Takes dir as the chosen folder and announces it.
    void chooseDir(QString dir);
    void showDialog();

private:
    std::unique_ptr<Ui::SelectDir> ui;
    QFileDialog *dialog = nullptr;
    QString dialogDir;
    const bool nativeDialog;
};
