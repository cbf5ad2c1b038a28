#pragma once
// A setpoint field, 0 to 60 with two decimals. Unlike a stock QDoubleSpinBox it lets the operator
// type any number (75 is taken and clamped, not refused), takes "." or "," as the decimal mark in
// every locale while showing the locale's, reads text that is not a number as 0 when the focus
// leaves, and steps a page by 10 units rather than ten single steps.

#include <QDoubleSpinBox>

class SetpointSpinBox : public QDoubleSpinBox {
    Q_OBJECT
public:
    static constexpr double Minimum = 0;
    static constexpr double Maximum = 60;
    static constexpr double Step = 0.01;
    static constexpr double PageStep = 10;

    SetpointSpinBox(const QString& objectName, QWidget* parent);

    // Reads the text as a number (not a number counts as the minimum), clamps and rewrites it.
    void CommitText();

    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    double valueFromText(const QString& text) const override;
    QString textFromValue(double value) const override;
    void stepBy(int steps) override;

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void StepValue(double delta);
};
