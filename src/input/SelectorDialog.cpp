#include "SelectorDialog.h"

#include "Config.h"

#include <QFileDialog>

bool nativeDialogWanted()
{
    return configInt(config.valueNoCase(QStringLiteral("native_dialog"), QStringLiteral("0"))) == 1;
}

QFileDialog *newSelectorDialog(QWidget *owner, bool native)
{
    auto *d = new QFileDialog(owner);
    d->setOption(QFileDialog::DontUseNativeDialog, !native);
    d->setDirectory(dataRoot);
    return d;
}
