#include "Body.h"
#include "Config.h"
#include "Failures.h"
#include "GuardedApp.h"
#include "StartUp.h"
#include "StopSignals.h"
#include "TextUtil.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // Asking for the options or the version starts nothing: no window, no configuration file.
    switch (infoRequest(args)) {
    case InfoRequest::Help:
        QTextStream(stdout) << commandLineHelp(QFileInfo(args.value(0, "vexa2")).fileName());
        return 0;
    case InfoRequest::Version:
        QTextStream(stdout) << "vexa2 " << VEXA_VERSION << Qt::endl;
        return 0;
    case InfoRequest::None:
        break;
    }
    config.parseArgs(args);
    const QStringList unknown = unknownOptions(config.keys);
    // The configuration file may ask for "-nw" too, so it is read before the toolkit starts.
    const StartOptions opt = applyStartOptions(config);
    for (const QString &option : unknown)
        logLine("Unknown option (see --help) :", option);
    // Without a window nobody would see the mistake before the batch ran with other settings
    // than meant.
    if (opt.noWindow && !unknown.isEmpty())
        return ExitUsage;
    setPrivateRuntimeFolder();
    // Batch runs without a window often happen on machines without a display; the toolkit
    // would refuse to start there, so such a run draws off screen instead.
    if (opt.noWindow && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
        && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without a window a batch that cannot be read leaves nothing to do: waiting for a kill
    // would report a failed job as a success.
    if (opt.noWindow && opt.loadBatch && !QFile(opt.batchFile).open(QIODevice::ReadOnly)) {
        logLine("Can't open batch file", opt.batchFile);
        return ExitBatchUnreadable;
    }
    GuardedApp<QApplication> app(argc, argv);
    QTranslator translator;
    if (!opt.keepEnglish)
        installJapanese(app, translator);

    auto *body = new Body;
    if (!body->threadsStarted) {
        // Work queued to a thread that never runs would wait for ever; the reason is on the
        // log and counted. Nothing has been read or queued yet, and taking the window down
        // would wait for threads that never ran: the process ends here.
        logLine("The program cannot run without its threads and stops");
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(1);
    }
    QObject::connect(body, &Body::finishing, &app, &QCoreApplication::quit);

    // Stopping from outside (Ctrl-C, kill) closes the window like the user would, so
    // the close-down path is the same and nothing queued is lost.
    StopSignals stopSignals;
    int stopSignal = 0;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, body, [body, &stopSignal](int sig) {
        if (stopSignal == 0)
            stopSignal = sig;
        body->stopFromOutside(sig);
    });

    if (!opt.noWindow) {
        body->show();
        body->resize(1, 1);
    }
    if (opt.loadBatch)
        emit body->callBatchLoad(opt.batchFile);
    if (opt.execBatch)
        emit body->callBatchExec();

    app.exec();
    const int requested = body->quitStatus;
    // Deleting the window waits for the workers and writes every queued file, so a failed
    // write of the last slices still counts.
    delete body;
    const int status = exitStatus(stopSignal, requested, Failures::instance().count());
    // Every file is written and closed by now. The toolkit's own clean-up is skipped: on a
    // node that refused a thread of Qt's internal thread pool it would wait for that thread
    // for ever.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
