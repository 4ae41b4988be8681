#pragma once

#include <QFrame>
#include <QPointer>

#include <memory>

class ClosableBase;
class QGridLayout;

namespace Ui {
class PopDockBase;
}

// Holds one content widget that the user can pop out into a window of its own and dock
// back, by the "Pop/Dock" button or by closing that window.
class PopDockBase : public QFrame
{
    Q_OBJECT
public:
    explicit PopDockBase(QWidget *parent = nullptr);
    ~PopDockBase() override;

    // Makes w the content (docked or popped, as the container is now); the title names the
    // pop-out window. The container owns the content from now on.
    void setWidget(QWidget *w, const QString &title = QString());
    QWidget *widget() const { return content; }
    void setTitle(const QString &title);
    bool isPopped() const { return poppedNow; }
    void setPopped(bool f);
    // The pop-out window, for owners that want to place or size it.
    ClosableBase *popWindow() const { return popBase; }

signals:
    void closed();
    void popped(bool f);

public slots:
    void popDock();
    void moveToDockBase();
    void moveToPopBase();

private:
    void placeContent(QGridLayout *layout);

    std::unique_ptr<Ui::PopDockBase> ui;
    ClosableBase *popBase;
    QGridLayout *popLayout;
    QPointer<QWidget> content;
    bool poppedNow = false;
};
