#include "StartUp.h"

#include "Config.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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

InfoRequest infoRequest(const QStringList &args)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == u"--help" || a == u"-h" || a == u"-help")
            return InfoRequest::Help;
        if (a == u"--version")
            return InfoRequest::Version;
    }
    return InfoRequest::None;
}

QString commandLineHelp(const QString &program)
{
    return QStringLiteral(
        "Usage: %1 [options]\n"
        "X-ray CT and CT-XAFS reconstruction at the beamline, in a window or from batch files.\n"
        "\n"
        "Options:\n"
        "  -c FILE        configuration file (default config.cfg in the working folder)\n"
        "  -config FILE   the same; wins over -c\n"
        "  -d FOLDER      data root: the folder in which the file dialogs open\n"
        "  -e             keep the English texts (the Japanese translation is used otherwise)\n"
        "  -b FILE        load this batch file at start\n"
        "  -x             start the loaded batch file at once\n"
        "  -nw            run without showing the window (batch use; end the batch with quit)\n"
        "  -s N           sinogram picture mode (2, the default, draws whole detector lines)\n"
        "  -h, --help     print this summary and exit\n"
        "  --version      print the version and exit\n"
        "\n"
        "Exit status: 0 when a batch reached quit and nothing failed, 1 when something failed,\n"
        "N for quit N, 2 for an option that is not known (with -nw) or a batch file that cannot\n"
        "be read (with -nw), 128 + the signal number when stopped from outside.\n")
        .arg(program);
}

QStringList unknownOptions(const QStringList &keys)
{
    // The program's options and those the toolkit reads for itself.
    static const QStringList known { "-c", "-config", "-d", "-e", "-b", "-x", "-nw", "-s",
        "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qmljsdebugger",
        "-qwindowgeometry", "-qwindowicon", "-qwindowtitle", "-reverse", "-session", "-style",
        "-stylesheet", "-widgetcount", "-display", "-geometry", "-name", "-title", "-visual",
        "-ncols", "-cmap", "-nograb", "-dograb", "-sync" };
    QStringList unknown;
    for (const QString &k : keys) {
        if (!k.startsWith(u'-') || known.contains(k))
            continue;
        if (k.size() >= 2 && (k.at(1) == u'.' || k.at(1).isNumber()))
            continue;
        unknown << k;
    }
    return unknown;
}

void setPrivateRuntimeFolder()
{
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t uid = ::geteuid();
    const passwd *pw = ::getpwuid(uid);
    const QByteArray user = pw != nullptr ? QByteArray(pw->pw_name) : QByteArray::number(uid);
    const QByteArray tmp
        = qEnvironmentVariableIsEmpty("TMPDIR") ? QByteArray("/tmp") : qgetenv("TMPDIR");
    const QByteArray dir = tmp + "/runtime-" + user;
    if (::mkdir(dir.constData(), 0700) != 0 && errno != EEXIST)
        return;
    struct stat st;
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid
        || (st.st_mode & 0777) != 0700)
        return;
    qputenv("XDG_RUNTIME_DIR", dir);
}
