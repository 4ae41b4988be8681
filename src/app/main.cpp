#include "Body.h"
#include "Config.h"
#include "StartUp.h"
#include "StopSignals.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    config.parseArgs(argc, argv);
    // Batch runs without a window often happen on machines without a display; the toolkit
    // would refuse to start there, so such a run draws off screen instead.
    if (config.contains("-nw") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
        && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTranslator translator;

    const StartOptions opt = applyStartOptions(config);
    if (!opt.keepEnglish)
        installJapanese(app, translator);

    auto *body = new Body;
    QObject::connect(body, &Body::finishing, &app, &QCoreApplication::quit);

    // Stopping from outside (Ctrl-C, kill) closes the window like the user would, so
    // the close-down path is the same and nothing queued is lost.
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, body, &QWidget::close);

    if (!opt.noWindow) {
        body->show();
        body->resize(1, 1);
    }
    if (opt.loadBatch)
        emit body->callBatchLoad(opt.batchFile);
    if (opt.execBatch)
        emit body->callBatchExec();

    const int rc = app.exec();
    delete body;
    return rc;
}
