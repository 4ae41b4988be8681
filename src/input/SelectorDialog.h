#pragma once

class QFileDialog;
class QWidget;

// True when the configuration key "native_dialog" is 1: the file dialogs of the selectors
// may then be the platform's own; otherwise they are the toolkit's, which look the same on
// every desktop and never block a headless session.
bool nativeDialogWanted();

// A file dialog owned by `owner`, opening in the folder the dialog of that owner (by its object
// name) was last used in, else in the data root directory; the selectors configure its mode
// and filters. Shown without blocking, it reports through its signals.
QFileDialog *newSelectorDialog(QWidget *owner, bool native);
