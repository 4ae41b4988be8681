// vexa2-spectra: spectral stacks of CT-XAFS series and their analysis.
#include "MapsCommand.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

QString usage()
{
    return QStringLiteral("Usage: vexa2-spectra COMMAND ...\n"
                          "Commands:\n"
                          "  maps STACK.h5 -o MAPS.h5 [options]   edge, E0 and fraction maps\n"
                          "Run vexa2-spectra COMMAND --help for its options.\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args[0] == QLatin1String("-h") || args[0] == QLatin1String("--help")) {
        QTextStream(args.isEmpty() ? stderr : stdout) << usage() << Qt::flush;
        return args.isEmpty() ? 2 : 0;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("maps"))
        return runMapsCommand(args);
    QTextStream(stderr) << "vexa2-spectra: unknown command " << command << "\n\n"
                        << usage() << Qt::flush;
    return 2;
}
