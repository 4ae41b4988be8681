#pragma once

#include <QFrame>

class QCloseEvent;

// The program's main window. For now it carries only what the start-up needs: the
// batch hand-over signals, the configuration lines executed once at construction and
// the close notification that ends the event loop.
class Body : public QFrame
{
    Q_OBJECT
public:
    explicit Body(QWidget *parent = nullptr);
    ~Body() override;

    // Runs every retained configuration line as a batch command (nothing is known
    // to the executor yet, so each line is accepted and ignored).
    void execConfigLines();

signals:
    void finishing();
    void callBatchLoad(QString fname);
    void callBatchExec();

protected:
    void closeEvent(QCloseEvent *event) override;
};
