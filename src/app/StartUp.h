#pragma once

#include <QString>

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

// The program's exit status: 128 + the signal number when it was stopped from outside
// (`stopSignal` not 0); else the status a "quit" command asked for (`requested` 0 … 255);
// else 0 when nothing failed since the start and 1 when anything did.
int exitStatus(int stopSignal, int requested, int failures);
