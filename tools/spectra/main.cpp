// vexa2-spectra: CT-XAFS spectral steps without a window, one sub-command each.
#include "MapsCommand.h"
#include "StackCommand.h"

#include <QCoreApplication>
#include <QTextStream>

#include <new>

namespace {

void usage(QTextStream &s)
{
    s << "Usage: vexa2-spectra COMMAND [options]\n"
         "\n"
         "Commands:\n"
         "  stack SERIES_OUT -o STACK.h5   one NeXus HDF5 spectral stack from a series' result\n"
         "                                 folders (one per energy), optionally aligned\n"
         "  maps STACK.h5 -o MAPS.h5       edge step, E0, white line and reference fractions\n"
         "                                 of every voxel\n"
         "\n"
         "vexa2-spectra COMMAND --help tells a command's options.\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vexa2-spectra");
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        QTextStream err(stderr);
        usage(err);
        return 2;
    }
    const QString command = args.at(1);
    // The stack command sees its own name first, as a program sees argv[0]; maps takes the
    // words after its name. Both write their file under a temporary name and rename it at the
    // end, so a step abandoned for want of memory leaves nothing half written behind.
    try {
        if (command == QLatin1String("stack"))
            return runStackCommand(args.mid(1));
        if (command == QLatin1String("maps"))
            return runMapsCommand(args.mid(2));
    } catch (const std::bad_alloc &) {
        QTextStream(stderr) << "vexa2-spectra: not enough memory for " << command
                            << " (try a smaller --memory); nothing was written\n";
        return 1;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h")
        || command == QLatin1String("help")) {
        QTextStream out(stdout);
        usage(out);
        return 0;
    }
    QTextStream err(stderr);
    err << "vexa2-spectra: unknown command " << command << "\n\n";
    usage(err);
    return 2;
}
