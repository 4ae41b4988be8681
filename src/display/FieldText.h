#pragma once

class QLineEdit;
class QWidget;

// Narrow fields that the program fills (numbers, tags, times) show the start of their text,
// where the sign and the leading digits are, rather than its end; the whole text is the
// field's tool tip unless the field has a tool tip of its own. Applies to every line edit
// under `root` that exists now (spin boxes keep their own behaviour); the texts already
// there are treated the same way.
void showFieldTextsFromStart(QWidget *root);
void showFieldTextFromStart(QLineEdit *edit);
