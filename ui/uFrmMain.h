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
    ~TFrmMain() override;

    // IReadingsView and ISyncCaller, for the worker.
    void AppendSample(double sample, double volts, double amperes, double watts) override;
    void ShowReadingTexts(const std::string& volts, const std::string& amperes,
                          const std::string& watts) override;
    void ShowReadingMissing() override;
    void ShowWorkerEnded() override;
    void ShowSinkProblem(const std::string& problem) override;
    void Synchronize(const std::function<void()>& routine) override;

    QGroupBox* grp1;          // "通信设置": the port settings and the connect button
    QLabel* Show1;            // "通信串口", the port drop-down's label
    QComboBox* c_com;         // the serial ports found, each with its device as tool tip
    QLabel* Show2;            // "通信速率", the baud drop-down's label
    QComboBox* c_bt;          // the baud rates offered
    QPushButton* b1;          // "连接": connect (again)
    QGroupBox* grp4;          // "快捷调出": the three preset buttons
    QPushButton* b_data_1;    // "数据组1": recall preset 1
    QPushButton* b_data_2;    // "数据组2": recall preset 2 (off for single-preset models)
    QPushButton* b_data_3;    // "数据组3": recall preset 3 (off for single-preset models)
    QFrame* pnl1;             // the panel of read-outs and setpoints
    QLineEdit* show_v;        // voltage read-out, the supply's text as received
    QLineEdit* show_I;        // current read-out
    QLineEdit* show_w;        // power read-out
    QLabel* Show13;           // "V" beside the voltage read-out
    QLabel* Show11;           // "A" beside the current read-out
    QLabel* Show12;           // "W" beside the power read-out
    QLabel* Show311;          // "电压值(V)", the voltage setpoint's label
    SetpointSpinBox* e_set_v; // the voltage setpoint, 0 to 60
    QPushButton* b_set_V;     // "设置": queue the voltage setpoint
    QLabel* Show3111;         // "电流值(A)", the current setpoint's label
    SetpointSpinBox* e_set_i; // the current setpoint, 0 to 60
    QPushButton* b_set_I;     // "设置": queue the current setpoint
    QGroupBox* grp2;          // "设备信息": the device information
    QPlainTextEdit* mm1;      // model, serial number, version and ratings of each connect
    TrendChart* cht1;         // voltage over the sample number
    TrendChart* cht2;         // current over the sample number
    TrendChart* cht3;         // power over the sample number

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
    // The worker records and publishes what the settings ask for, with the identified supply.
    void StartWorker(const SupplyIdentity& identity);
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

// The main window while it exists.
extern TFrmMain* FrmMain;
