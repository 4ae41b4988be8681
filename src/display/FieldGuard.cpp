#include "FieldGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleValidator>
#include <QEvent>
#include <QLineEdit>
#include <QScrollBar>

#include <climits>

namespace {

// Whole numbers: keys that cannot make one are refused, and a number outside the range is
// let in (so that the user sees what was typed, in red) but not taken.
class IntegerValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &s, int &) const override
    {
        if (s.isEmpty() || s == u"-" || s == u"+")
            return Intermediate;
        for (qsizetype i = 0; i < s.size(); ++i) {
            const QChar c = s.at(i);
            if (!(c.isDigit() && c.unicode() < 128) && !(i == 0 && (c == u'-' || c == u'+')))
                return Invalid;
        }
        bool ok = false;
        const qlonglong v = s.toLongLong(&ok);
        if (!ok)
            return Invalid;
        return v >= low && v <= high ? Acceptable : Intermediate;
    }

    int low = INT_MIN;
    int high = INT_MAX;
};

const QString WrongStyle = QStringLiteral("background-color: rgb(255, 192, 192);");

class WheelPasser : public QObject
{
public:
    explicit WheelPasser(QAbstractScrollArea *area)
        : QObject(area)
        , area(area)
    { }

    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() != QEvent::Wheel)
            return false;
        auto *w = qobject_cast<QWidget *>(o);
        if (!w || w->hasFocus())
            return false;
        // The column scrolls as if the pointer were over empty space.
        QCoreApplication::sendEvent(area->verticalScrollBar(), e);
        return true;
    }

private:
    QAbstractScrollArea *area;
};

} // namespace

void passWheelUnlessFocused(QAbstractScrollArea *area)
{
    QWidget *column = area->viewport();
    auto *passer = new WheelPasser(area);
    QList<QWidget *> fields;
    for (QComboBox *c : column->findChildren<QComboBox *>())
        fields << c;
    for (QAbstractSpinBox *s : column->findChildren<QAbstractSpinBox *>())
        fields << s;
    for (QWidget *f : std::as_const(fields)) {
        f->setFocusPolicy(Qt::StrongFocus);
        f->installEventFilter(passer);
    }
}

NumberField::NumberField(QLineEdit *edit, Kind kind)
    : QObject(edit)
    , m_edit(edit)
    , m_kind(kind)
    , m_good(edit->text())
    , m_style(edit->styleSheet())
{
    setObjectName(QStringLiteral("NumberField"));
    if (kind == Integer) {
        edit->setValidator(new IntegerValidator(edit));
    } else {
        auto *v = new QDoubleValidator(edit);
        v->setLocale(QLocale::c());
        v->setNotation(QDoubleValidator::ScientificNotation);
        edit->setValidator(v);
    }
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textChanged, this, [this] {
        // Texts set by the program are taken as they come, numbers or not: the field then
        // goes back to them. What the user types counts once it is entered.
        if (!m_edit->hasFocus())
            m_good = m_edit->text();
        showState();
    });
    connect(edit, &QLineEdit::editingFinished, this, [this] { m_good = m_edit->text(); });
}

NumberField *NumberField::guard(QLineEdit *edit, Kind kind)
{
    if (NumberField *g = of(edit))
        return g;
    return new NumberField(edit, kind);
}

NumberField *NumberField::of(const QLineEdit *edit)
{
    return edit
        ? edit->findChild<NumberField *>(QStringLiteral("NumberField"), Qt::FindDirectChildrenOnly)
        : nullptr;
}

void NumberField::setIntRange(int low, int high)
{
    if (auto *v = dynamic_cast<IntegerValidator *>(const_cast<QValidator *>(m_edit->validator()))) {
        v->low = low;
        v->high = high;
    }
    showState();
}

void NumberField::showState()
{
    // Only what the user is typing turns red: a value the program wrote is not a mistake.
    const bool red = m_edit->hasFocus() && !m_edit->hasAcceptableInput();
    if (red == m_red)
        return;
    if (red)
        m_style = m_edit->styleSheet();
    m_red = red;
    m_edit->setStyleSheet(red ? m_style + WrongStyle : m_style);
}

bool NumberField::eventFilter(QObject *o, QEvent *e)
{
    if (o == m_edit && e->type() == QEvent::FocusOut && !m_edit->hasAcceptableInput()) {
        const QString typed = m_edit->text();
        m_edit->setText(m_good);
        showState();
        emit refused(typed);
    } else if (o == m_edit && (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut)) {
        showState();
    }
    return false;
}
