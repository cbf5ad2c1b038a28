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
    setLocale(QLocale::system());
    setDecimals(2);
    setRange(Minimum, Maximum);
    setSingleStep(Step);
    setKeyboardTracking(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    setValue(Minimum);
}

QValidator::State SetpointSpinBox::validate(QString& input, int&) const {
    // Digits, at most one decimal mark, and a sign only as the first character.
    const QString mark = QRegularExpression::escape(locale().decimalPoint());
    static const QString pattern = QStringLiteral("^[+-]?[0-9]*(%1[0-9]*)?$");
    const QRegularExpression allowed(pattern.arg(mark));
    return allowed.match(input).hasMatch() ? QValidator::Acceptable : QValidator::Invalid;
}

void SetpointSpinBox::fixup(QString& input) const {
    input = textFromValue(valueFromText(input));
}

double SetpointSpinBox::valueFromText(const QString& text) const {
    bool ok = false;
    const double value = locale().toDouble(text, &ok);
    // A number beyond the range of a double comes back infinite and not ok: it still clamps.
    const bool number = ok || std::isinf(value);
    return std::clamp(number ? value : Minimum, Minimum, Maximum);
}

void SetpointSpinBox::commitText() {
    const double value = valueFromText(lineEdit()->text());
    setValue(value);
    // setValue leaves the text alone when the value did not change; rewrite it regardless.
    lineEdit()->setText(textFromValue(value));
}

void SetpointSpinBox::stepBy(int steps) {
    stepValue(steps * Step);
}

void SetpointSpinBox::stepValue(double delta) {
    commitText();
    setValue(std::clamp(value() + delta, Minimum, Maximum));
    selectAll();
}

void SetpointSpinBox::focusOutEvent(QFocusEvent* event) {
    commitText();
    QDoubleSpinBox::focusOutEvent(event);
}

void SetpointSpinBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageUp:
        stepValue(PageStep);
        break;
    case Qt::Key_PageDown:
        stepValue(-PageStep);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        commitText();
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
    stepValue(notches * (page ? PageStep : Step));
    event->accept();
}
