#pragma once
// The main window: settings, device information, read-outs, setpoints, presets and three trend
// charts. It is the worker's view and runs the worker's synchronised calls.

#include <QTime>
#include <QWidget>
#include <cstdint>

#include "worker/ubaseThread.h"

class QComboBox;
class QGroupBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class SetpointSpinBox;
class TrendChart;

// Whole volts and amperes of the identified supply, 0 until the first identification.
extern int32_t RatedVoltage;
extern int32_t RatedCurrent;

class TFrmMain : public QWidget, public IReadingsView, public ISyncCaller {
    Q_OBJECT
public:
    explicit TFrmMain(QWidget* parent = nullptr);

    // IReadingsView and ISyncCaller, for the worker.
    void AppendSample(double sample, double volts, double amperes, double watts) override;
    void ShowReadingTexts(const std::string& volts, const std::string& amperes,
                          const std::string& watts) override;
    void ShowReadingMissing() override;
    void ShowWorkerEnded() override;
    void ShowSinkProblem(const std::string& problem) override;
    void Synchronize(const std::function<void()>& routine) override;

    QGroupBox* grp1;
    QLabel* Show1;
    QComboBox* c_com;
    QLabel* Show2;
    QComboBox* c_bt;
    QPushButton* b1;
    QGroupBox* grp4;
    QPushButton* b_data_1;
    QPushButton* b_data_2;
    QPushButton* b_data_3;
    QFrame* pnl1;
    QLineEdit* show_v;
    QLineEdit* show_I;
    QLineEdit* show_w;
    QLabel* Show13;
    QLabel* Show11;
    QLabel* Show12;
    QLabel* Show311;
    SetpointSpinBox* e_set_v;
    QPushButton* b_set_V;
    QLabel* Show3111;
    SetpointSpinBox* e_set_i;
    QPushButton* b_set_I;
    QGroupBox* grp2;
    QPlainTextEdit* mm1;
    TrendChart* cht1;
    TrendChart* cht2;
    TrendChart* cht3;

public slots:
    void b1Click();
    void b_data_1Click();
    void b_data_2Click();
    void b_data_3Click();
    void b_set_VClick();
    void b_set_IClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void SetTabOrder();
    void FormCreate();
    void FillPortList();
    void SetupCharts();
    void FormClose();
    void Connect();
    // Stops a running worker and waits for its end while processing window messages.
    void StopRunningWorker();
    void StartWorker();
    void QueueSetpoint(SetpointSpinBox* field, const char* prefix);
    void ShowConnectFailure();
    std::string Transact(const char* command);
    // Live read-outs in the normal text colour; stale ones in the disabled colour, with the time
    // of the last good reading in their tool tip, which also names a sink's problem.
    void ShowReadoutsLive(bool live);

    bool closing_ = false;
    // Centred by the window's outer size, the frame included.
    void CentreOnDesktop();

    bool centred_ = false;
    QMargins centredMargins_; // the frame as known when the window was last centred
    QTime lastGoodReading_;
    bool readoutsLive_ = true;
    QString sinkProblem_;
};

extern TFrmMain* FrmMain;
