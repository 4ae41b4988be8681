#include "SelectorDialog.h"

#include "Config.h"
#include "Places.h"

#include <QFileDialog>

bool nativeDialogWanted()
{
    return configInt(config.valueNoCase(QStringLiteral("native_dialog"), QStringLiteral("0"))) == 1;
}

QFileDialog *newSelectorDialog(QWidget *owner, bool native)
{
    auto *d = new QFileDialog(owner);
    d->setOption(QFileDialog::DontUseNativeDialog, !native);
    // Each selector opens where it was used last, in this session or an earlier one.
    const QString kind = owner ? owner->objectName() : QString();
    d->setDirectory(Places::dialogFolder(kind, dataRoot));
    if (!kind.isEmpty()) {
        QObject::connect(d, &QFileDialog::filesSelected, d, [kind](const QStringList &files) {
            if (!files.isEmpty())
                Places::rememberDialogFolder(kind, files.first());
        });
    }
    return d;
}
