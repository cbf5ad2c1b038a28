#include "SetpointSpinBox.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

SetpointSpinBox::SetpointSpinBox(const QString& objectName, QWidget* parent)
    : QDoubleSpinBox(parent) {
    setObjectName(objectName);
    setDecimals(2);
    setRange(Minimum, Maximum);
    setSingleStep(Step);
    setKeyboardTracking(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setValue(Minimum);
}

namespace {

// The marks a typed number may use for its decimal point: both the full stop and the comma in
// every locale (neither is ever read as a grouping mark), and the locale's own where it differs.
QString DecimalMarks(const QLocale& locale) {
    QString marks = QStringLiteral(".,");
    if (!marks.contains(locale.decimalPoint()))
        marks += locale.decimalPoint();
    return marks;
}

} // namespace

QValidator::State SetpointSpinBox::validate(QString& input, int&) const {
    // Digits, at most one decimal mark, and a sign only as the first character.
    static const QString pattern = QStringLiteral("^[+-]?[0-9]*([%1][0-9]*)?$");
    const QRegularExpression allowed(
        pattern.arg(QRegularExpression::escape(DecimalMarks(locale()))));
    return allowed.match(input).hasMatch() ? QValidator::Acceptable : QValidator::Invalid;
}

void SetpointSpinBox::fixup(QString& input) const {
    input = textFromValue(valueFromText(input));
}

double SetpointSpinBox::valueFromText(const QString& text) const {
    // Whichever mark was typed becomes a full stop, which the C locale reads without grouping.
    QString number = text;
    for (const QChar mark : DecimalMarks(locale()))
        number.replace(mark, u'.');
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    // A number beyond the range of a double comes back infinite and not ok: it still clamps.
    const bool isNumber = ok || std::isinf(value);
    return std::clamp(isNumber ? value : Minimum, Minimum, Maximum);
}

QString SetpointSpinBox::textFromValue(double value) const {
    // Latin digits and the locale's decimal mark, whatever digits the locale writes.
    QString text = QString::number(value, 'f', decimals());
    return text.replace(u'.', locale().decimalPoint());
}

void SetpointSpinBox::CommitText() {
    const double value = valueFromText(lineEdit()->text());
    setValue(value);
    // setValue leaves the text alone when the value did not change; rewrite it regardless.
    lineEdit()->setText(textFromValue(value));
}

void SetpointSpinBox::stepBy(int steps) {
    StepValue(steps * Step);
}

void SetpointSpinBox::StepValue(double delta) {
    CommitText();
    setValue(std::clamp(value() + delta, Minimum, Maximum));
    selectAll();
}

void SetpointSpinBox::focusOutEvent(QFocusEvent* event) {
    CommitText();
    QDoubleSpinBox::focusOutEvent(event);
}

void SetpointSpinBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageUp:
        StepValue(PageStep);
        break;
    case Qt::Key_PageDown:
        StepValue(-PageStep);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        CommitText();
        QDoubleSpinBox::keyPressEvent(event);
        break;
    default:
        QDoubleSpinBox::keyPressEvent(event);
    }
}

void SetpointSpinBox::wheelEvent(QWheelEvent* event) {
    const int notches = event->angleDelta().y() / QWheelEvent::DefaultDeltasPerStep;
    if (notches == 0) {
        event->ignore();
        return;
    }
    const bool page = event->modifiers() & Qt::ControlModifier;
    StepValue(notches * (page ? PageStep : Step));
    event->accept();
}
