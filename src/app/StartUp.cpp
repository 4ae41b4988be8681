#include "StartUp.h"

#include "Config.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

StartOptions applyStartOptions(Config &cfg)
{
    StartOptions opt;
    if (cfg.contains("-c"))
        opt.configFile = cfg.value("-c", "config.cfg");
    if (cfg.contains("-config"))
        opt.configFile = cfg.value("-config", "config.cfg");
    cfg.readFile(opt.configFile);

    dataRoot = cfg.value("DataRoot", dataRoot);
    if (cfg.contains("-d"))
        dataRoot = cfg.value("-d");

    opt.keepEnglish = cfg.contains("-e");
    opt.loadBatch = cfg.contains("-b");
    opt.execBatch = cfg.contains("-x");
    opt.noWindow = cfg.contains("-nw");
    if (opt.loadBatch)
        opt.batchFile = cfg.value("-b");

    sgmImageMode = configInt(cfg.value("-s", "2"));
    return opt;
}

bool installJapanese(QCoreApplication &app, QTranslator &translator)
{
    if (!translator.load(":Vexa2_ja_JP", QCoreApplication::applicationDirPath()))
        return false;
    app.installTranslator(&translator);
    // The toolkit's own texts (file dialogs, message boxes, context menus) come from its
    // translation installed with it; without that file they stay English. It lives and
    // leaves with the program's translation.
    auto *toolkit = new QTranslator(&translator);
    if (toolkit->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(toolkit);
    else
        qDebug().noquote() << "The toolkit's Japanese translation was not found in"
                           << QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    return true;
}

int exitStatus(int stopSignal, int requested, int failures)
{
    if (stopSignal > 0)
        return 128 + stopSignal;
    if (requested >= 0 && requested <= 255)
        return requested;
    return failures == 0 ? 0 : 1;
}
