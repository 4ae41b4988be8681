#pragma once

#include <QObject>
#include <QString>

class QAbstractScrollArea;
class QLineEdit;
class QWidget;

// Guards against values changed by a slip of the hand.
//
// Choices and counters in a scrolling column take the wheel only once the user has clicked
// or tabbed into them; until then the wheel scrolls the column, as it does over any other
// part of it.
void passWheelUnlessFocused(QAbstractScrollArea *area);

// A number field that refuses what is not a number: keys that cannot make one are not taken,
// the field is shown red while its text is not a number (or lies outside the allowed range)
// and, when the user leaves it so, the previous value comes back and `refused` says what was
// not taken. Programs still write any text they like with setText.
class NumberField : public QObject
{
    Q_OBJECT
public:
    enum Kind { Integer, Real };

    // Installs itself on `edit` (and is owned by it). The allowed range is unbounded.
    static NumberField *guard(QLineEdit *edit, Kind kind);
    // The guard of `edit`, nullptr when it has none.
    static NumberField *of(const QLineEdit *edit);

    // Whole numbers from `low` to `high`; a number outside is refused like text.
    void setIntRange(int low, int high);
    QLineEdit *edit() const { return m_edit; }

signals:
    // The text the user left in the field and that was replaced by the previous value.
    void refused(const QString &text);

protected:
    bool eventFilter(QObject *o, QEvent *e) override;

private:
    NumberField(QLineEdit *edit, Kind kind);
    void showState();

    QLineEdit *m_edit;
    Kind m_kind;
    // The last text that was a number: what a refused entry goes back to.
    QString m_good;
    QString m_style;
    bool m_red = false;
};
