#include "FieldText.h"

#include <QAbstractSpinBox>
#include <QLineEdit>

namespace {

const char *const kFollowed = "vexaFieldTextFollowed";
const char *const kOwnTip = "vexaFieldTextOwnTip";

void showStart(QLineEdit *e)
{
    // While the user types (the text is then "modified"), the cursor stays where the user
    // put it; a text set by the program clears that flag.
    if (!e->isModified() && !e->hasFocus())
        e->setCursorPosition(0);
    if (!e->property(kOwnTip).toBool())
        e->setToolTip(e->text());
}

} // namespace

void showFieldTextFromStart(QLineEdit *edit)
{
    if (!edit || edit->property(kFollowed).toBool())
        return;
    if (qobject_cast<QAbstractSpinBox *>(edit->parentWidget()))
        return;
    edit->setProperty(kFollowed, true);
    edit->setProperty(kOwnTip, !edit->toolTip().isEmpty());
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit] { showStart(edit); });
    // Setting the same text again changes nothing but still moves the cursor to the end.
    QObject::connect(edit, &QLineEdit::cursorPositionChanged, edit, [edit](int, int now) {
        if (now != 0 && !edit->isModified() && !edit->hasFocus() && !edit->hasSelectedText())
            edit->setCursorPosition(0);
    });
    showStart(edit);
}

void showFieldTextsFromStart(QWidget *root)
{
    if (!root)
        return;
    for (QLineEdit *e : root->findChildren<QLineEdit *>())
        showFieldTextFromStart(e);
}
