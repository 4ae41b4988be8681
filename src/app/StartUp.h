#pragma once

#include <QString>
#include <QStringList>

class Config;
class QCoreApplication;
class QTranslator;

// What the command line and the configuration file ask of the start-up.
struct StartOptions
{
    QString configFile = QStringLiteral("config.cfg");
    bool keepEnglish = false; // "-e"
    bool loadBatch = false;   // "-b"
    bool execBatch = false;   // "-x"
    bool noWindow = false;    // "-nw"
    QString batchFile;
};

// The configuration part of the start-up, after the command line has been parsed into
// `cfg`: chooses and reads the configuration file ("-config" wins over "-c"), sets
// `dataRoot` ("-d" wins over "DataRoot") and `sgmImageMode` ("-s", default 2), and
// notes the options that the entry function acts on.
StartOptions applyStartOptions(Config &cfg);

// Loads the embedded Japanese translation ":Vexa2_ja_JP" and installs it, together with the
// toolkit's own Japanese translation ("qtbase_ja" in the toolkit's translation folder) for
// its dialogs; returns whether the program's translation could be loaded (a missing
// translation leaves the English texts).
bool installJapanese(QCoreApplication &app, QTranslator &translator);

// Exit status when "-nw" is given with a batch file that cannot be read.
constexpr int ExitBatchUnreadable = 2;
// Exit status of a command line the program does not understand ("-nw" only: with a window
// the mistake is reported and the window opens all the same).
constexpr int ExitUsage = 2;

// What the command line asks before anything starts: the option summary or the version.
enum class InfoRequest { None, Help, Version };
InfoRequest infoRequest(const QStringList &args);
// The option summary printed for "--help" (`program` is the name the user typed).
QString commandLineHelp(const QString &program);

// The options in `keys` (the table's keys after the command line was parsed) that neither the
// program nor the toolkit knows; negative numbers taken as keys are values, not options.
QStringList unknownOptions(const QStringList &keys);

// Qt warns on every start where XDG_RUNTIME_DIR is not set (batch jobs, containers, cluster
// nodes) and then uses /tmp/runtime-<user>. This points the variable at that folder first,
// made private to the user, so the warning does not fill every log; a folder that someone
// else owns or that others may enter is left alone, and Qt says so as before.
void setPrivateRuntimeFolder();

// The program's exit status: 128 + the signal number when it was stopped from outside
// (`stopSignal` not 0); else the status a "quit" command asked for (`requested` 0 … 255);
// else 0 when nothing failed since the start and 1 when anything did.
int exitStatus(int stopSignal, int requested, int failures);
