// The data folders loaded last: the "Recent" menu beside "Data Select".
#include "Body.h"

#include "Places.h"

#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QToolButton>

void Body::setupRecentData()
{
    recentDataButton = new QToolButton;
    recentDataButton->setObjectName("RecentDataFolders");
    recentDataButton->setText(tr("Recent"));
    recentDataButton->setToolTip(tr("The last %1 data folders loaded, newest first: choose one "
                                    "to load it as \"Data Select\" would.")
                                     .arg(Places::RecentCount));
    recentDataButton->setPopupMode(QToolButton::InstantPopup);
    recentDataMenu = new QMenu(recentDataButton);
    recentDataMenu->setObjectName("RecentDataMenu");
    recentDataButton->setMenu(recentDataMenu);
    // Another window of the program may have loaded a folder meanwhile.
    connect(recentDataMenu, &QMenu::aboutToShow, this, &Body::refreshRecentData);
    CTFiles->addBesideSelect(recentDataButton);
    refreshRecentData();
}

void Body::refreshRecentData()
{
    recentDataMenu->clear();
    const QStringList list = Places::recentData();
    for (const QString &path : list) {
        const bool there = QFileInfo::exists(path);
        const QString shown = QDir::toNativeSeparators(path);
        QAction *a = recentDataMenu->addAction(there ? shown : tr("%1 (missing)").arg(shown));
        a->setData(path);
        a->setEnabled(there);
        connect(a, &QAction::triggered, this, [this, path] { openRecentData(path); });
    }
    if (list.isEmpty())
        recentDataMenu->addAction(tr("No data folder loaded yet"))->setEnabled(false);
}

bool Body::openRecentData(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        Places::removeRecentData(path);
        refreshRecentData();
        notice(tr("The data folder %1 is gone: it is dropped from the recent folders")
                   .arg(QDir::toNativeSeparators(path)));
        return false;
    }
    if (QFileInfo(path).isDir())
        CTFiles->loadFromDir(path, {});
    else
        CTFiles->handleChosenFiles({ path });
    return true;
}
