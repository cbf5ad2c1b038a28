#include "uFrmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTime>
#include <QWindow>
#include <exception>

#include "SetpointSpinBox.h"
#include "TrendChart.h"
#include "UiUtil.h"
#include "common/TextUtil.h"
#include "common/uCheckAll.h"
#include "protocol/Protocol.h"
#include "record/SinkFactory.h"

int32_t RatedVoltage = 0;
int32_t RatedCurrent = 0;
TFrmMain* FrmMain = nullptr;

namespace {

const char* const FontName = "微软雅黑";
// The layout's outer size is 961 x 603 with the frame; this is the client area that holds it.
constexpr int ClientWidth = 945;
constexpr int ClientHeight = 564;

QFont LayoutFont(int pixelSize) {
    QFont font(QString::fromUtf8(FontName));
    font.setPixelSize(pixelSize);
    return font;
}

template <class W> W* Place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int width, int height) {
    return Place(new QLabel(text, parent), name, left, top, width, height);
}

QLabel* MakeUnitLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                      int width, int height) {
    QLabel* label = MakeLabel(parent, name, text, left, top, width, height);
    label->setFont(LayoutFont(35));
    label->setAlignment(Qt::AlignCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, int left, int top,
                        int width, int height) {
    QPushButton* button = Place(new QPushButton(text, parent), name, left, top, width, height);
    button->setFocusPolicy(Qt::StrongFocus); // a left press takes the focus before the handler
    button->setAutoDefault(false);
    return button;
}

QComboBox* MakeChoice(QWidget* parent, const char* name, int left, int top, int width, int height) {
    QComboBox* box = Place(new QComboBox(parent), name, left, top, width, height);
    box->setEditable(false);
    return box;
}

QLineEdit* MakeReadout(QWidget* parent, const char* name, int left, int top, int width,
                       int height) {
    QLineEdit* edit =
        Place(new QLineEdit(QStringLiteral("0.00"), parent), name, left, top, width, height);
    edit->setFont(LayoutFont(48));
    edit->setAlignment(Qt::AlignCenter);
    return edit;
}

QString WireText(const std::string& bytes) {
    // Bytes from the supply become characters one for one.
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

TFrmMain::TFrmMain(QWidget* parent) : QWidget(parent) {
    FrmMain = this;
    CreateControls();
    SetTabOrder();
    FormCreate();
}

TFrmMain::~TFrmMain() {
    if (FrmMain == this)
        FrmMain = nullptr;
}

void TFrmMain::CreateControls() {
    setObjectName(QStringLiteral("FrmMain"));
    setWindowTitle(QStringLiteral("可调直流稳压电源上位机"));
    // A sizeable border without a maximise button; the controls keep their places when resized.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    resize(ClientWidth, ClientHeight);
    setFont(LayoutFont(14));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setAutoFillBackground(true);

    grp1 = Place(new QGroupBox(QStringLiteral("通信设置"), this), "grp1", 7, 0, 466, 73);
    Show1 = MakeLabel(grp1, "Show1", QStringLiteral("通信串口"), 18, 32, 56, 20);
    c_com = MakeChoice(grp1, "c_com", 91, 30, 81, 28);
    Show2 = MakeLabel(grp1, "Show2", QStringLiteral("通信速率"), 193, 32, 56, 20);
    c_bt = MakeChoice(grp1, "c_bt", 259, 30, 81, 28);
    b1 = MakeButton(grp1, "b1", QStringLiteral("连接"), 356, 23, 79, 35);

    grp4 = Place(new QGroupBox(QStringLiteral("快捷调出"), this), "grp4", 488, 0, 449, 73);
    b_data_1 = MakeButton(grp4, "b_data_1", QStringLiteral("数据组1"), 9, 26, 72, 35);
    b_data_2 = MakeButton(grp4, "b_data_2", QStringLiteral("数据组2"), 89, 26, 72, 35);
    b_data_3 = MakeButton(grp4, "b_data_3", QStringLiteral("数据组3"), 169, 26, 72, 35);

    pnl1 = Place(new QFrame(this), "pnl1", 7, 88, 466, 241);
    pnl1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    pnl1->setLineWidth(1);
    show_v = MakeReadout(pnl1, "show_v", 16, 8, 193, 70);
    show_I = MakeReadout(pnl1, "show_I", 16, 78, 193, 70);
    show_w = MakeReadout(pnl1, "show_w", 16, 148, 193, 70);
    Show13 = MakeUnitLabel(pnl1, "Show13", QStringLiteral("V"), 217, 27, 24, 46);
    Show11 = MakeUnitLabel(pnl1, "Show11", QStringLiteral("A"), 217, 90, 25, 46);
    Show12 = MakeUnitLabel(pnl1, "Show12", QStringLiteral("W"), 217, 167, 36, 46);
    Show311 = MakeLabel(pnl1, "Show311", QStringLiteral("电压值(V)"), 287, 21, 61, 20);
    e_set_v =
        Place(new SetpointSpinBox(QStringLiteral("e_set_v"), pnl1), "e_set_v", 286, 45, 81, 28);
    b_set_V = MakeButton(pnl1, "b_set_V", QStringLiteral("设置"), 371, 44, 56, 29);
    Show3111 = MakeLabel(pnl1, "Show3111", QStringLiteral("电流值(A)"), 287, 93, 62, 20);
    e_set_i =
        Place(new SetpointSpinBox(QStringLiteral("e_set_i"), pnl1), "e_set_i", 286, 117, 81, 28);
    b_set_I = MakeButton(pnl1, "b_set_I", QStringLiteral("设置"), 371, 116, 56, 29);

    grp2 = Place(new QGroupBox(QStringLiteral("设备信息"), this), "grp2", 488, 88, 449, 241);
    mm1 = Place(new QPlainTextEdit(grp2), "mm1", 8, 24, 433, 209);
    mm1->setReadOnly(true);
    mm1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mm1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mm1->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    cht1 = Place(new TrendChart(QStringLiteral("cht1"), QStringLiteral("电压"), this), "cht1", 7,
                 335, 305, 223);
    cht2 = Place(new TrendChart(QStringLiteral("cht2"), QStringLiteral("电流"), this), "cht2", 319,
                 335, 305, 223);
    cht3 = Place(new TrendChart(QStringLiteral("cht3"), QStringLiteral("功率"), this), "cht3", 631,
                 335, 305, 223);

    connect(b1, &QPushButton::clicked, this, &TFrmMain::b1Click);
    connect(b_data_1, &QPushButton::clicked, this, &TFrmMain::b_data_1Click);
    connect(b_data_2, &QPushButton::clicked, this, &TFrmMain::b_data_2Click);
    connect(b_data_3, &QPushButton::clicked, this, &TFrmMain::b_data_3Click);
    connect(b_set_V, &QPushButton::clicked, this, &TFrmMain::b_set_VClick);
    connect(b_set_I, &QPushButton::clicked, this, &TFrmMain::b_set_IClick);
}

void TFrmMain::SetTabOrder() {
    // Within each parent by its tab index; the parents in the window's tab order.
    const QList<QWidget*> order = {b1,      c_com,   c_bt,    b_data_1, b_data_2, b_data_3, e_set_v,
                                   b_set_V, e_set_i, b_set_I, show_v,   show_I,   show_w,   mm1};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void TFrmMain::FormCreate() {
    // The log lock is a process-wide mutex, ready before any transaction can log.
    FillPortList();
    c_bt->clear();
    c_bt->addItems({QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("115200")});
    c_bt->setCurrentIndex(c_bt->findText(QString::number(ComBaudRate), Qt::MatchExactly));
    CommandQueue.Clear();
    PollCommand = CmdReadAll;
    SetupCharts();
}

void TFrmMain::FillPortList() {
    c_com->clear();
    // A failed discovery is shown, and the rest of the window is still made.
    RunHandler(this, [this] {
        for (const SerialPortInfo& port : ListSerialPorts()) {
            c_com->addItem(QString::fromStdString(port.name));
            c_com->setItemData(c_com->count() - 1, QString::fromStdString(port.devicePath),
                               Qt::ToolTipRole);
        }
    });
    const QString saved = QString::fromStdString(ComPortName);
    c_com->setCurrentIndex(-1);
    for (int i = 0; i < c_com->count(); ++i) {
        if (c_com->itemText(i).compare(saved, Qt::CaseInsensitive) == 0) {
            c_com->setCurrentIndex(i);
            break;
        }
    }
}

void TFrmMain::SetupCharts() {
    // Each chart made its titled series in its constructor; the value axes start fixed at 0 to 0.
    for (TrendChart* chart : {cht1, cht2, cht3}) {
        chart->SetLeftMinimum(0);
        chart->SetLeftMaximum(0);
    }
    cht1->SetValueUnit(QStringLiteral("V"), QStringLiteral("voltage_V"));
    cht2->SetValueUnit(QStringLiteral("A"), QStringLiteral("current_A"));
    cht3->SetValueUnit(QStringLiteral("W"), QStringLiteral("power_W"));
}

// ---- Connect --------------------------------------------------------------------------------

void TFrmMain::b1Click() {
    RunHandler(this, [this] { Connect(); });
}

std::string TFrmMain::Transact(const char* command) {
    std::string reply;
    ComTransact(PortNumberText(c_com->currentText().toStdString()),
                c_bt->currentText().toStdString(), command, true, reply);
    return reply;
}

void TFrmMain::Connect() {
    b1->setEnabled(false);
    SetButtonsEnabled(this, false);
    bool singlePreset = false;
    // Re-enables the buttons however the connect ends.
    struct ButtonsBack {
        TFrmMain* window;
        const bool& singlePreset;
        ~ButtonsBack() {
            SetButtonsEnabled(window, true);
            if (singlePreset) {
                window->b_data_2->setEnabled(false);
                window->b_data_3->setEnabled(false);
            }
        }
    } buttonsBack{this, singlePreset};

    StopRunningWorker();
    std::string reply = Transact(CmdIdentify);
    if (reply.empty())
        return ShowConnectFailure();

    const IdentityFields identity = SplitIdentityReply(reply);
    mm1->appendPlainText(QStringLiteral("型号: ") + WireText(identity.model));
    mm1->appendPlainText(QStringLiteral("序列号: ") + WireText(identity.serialNumber));
    mm1->appendPlainText(QStringLiteral("版本号: ") + WireText(identity.version));

    const ModelRating rating = ModelRatings(identity.model);
    RatedCurrent = rating.ratedCurrent;
    RatedVoltage = rating.ratedVoltage;
    if (rating.singlePreset) {
        b_data_2->setEnabled(false);
        b_data_3->setEnabled(false);
        singlePreset = true;
    }
    mm1->appendPlainText(QStringLiteral("额定最大电压: %1V").arg(RatedVoltage));
    mm1->appendPlainText(QStringLiteral("额定最大电流: %1A").arg(RatedCurrent));

    // The product is taken in 64 bits: ratings large enough to overflow 32 bits stay correct.
    const double ratedPower = static_cast<double>(int64_t{RatedCurrent} * RatedVoltage);
    const double maxima[] = {double(RatedVoltage), double(RatedCurrent), ratedPower};
    TrendChart* charts[] = {cht1, cht2, cht3};
    for (int i = 0; i < 3; ++i) {
        charts[i]->SetLeftMinimum(0);
        charts[i]->SetLeftMaximum(maxima[i]);
    }

    reply = Transact(CmdReadAll);
    if (reply.empty())
        return ShowConnectFailure();
    const ReadingsTexts readings = SplitReadingsReply(reply);
    ShowReadingTexts(readings.voltage, readings.current, readings.power);

    ComPortName = c_com->currentText().toStdString();
    ComBaudRate = TextToInt(c_bt->currentText().toStdString());
    SaveComSettings();
    StartWorker({ComPortName, ComBaudRate, identity.model, identity.serialNumber, identity.version,
                 RatedVoltage, RatedCurrent});
}

void TFrmMain::ShowConnectFailure() {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), QStringLiteral("连接失败。"),
                    QMessageBox::Ok, this);
    // The transaction succeeded but brought an empty line: nothing in it could be understood.
    const TransactCause cause = LastTransactCause();
    const std::string detail = cause.failure == TransactFailure::None
                                   ? "收到的应答无法识别（空行）。"
                                   : DescribeTransactCause(cause);
    box.setInformativeText(QString::fromStdString(detail));
    box.exec();
}

void TFrmMain::StopRunningWorker() {
    if (Worker.load() == nullptr)
        return;
    RequestWorkerStop();
    PumpUntil([] { return Worker.load() == nullptr; });
}

void TFrmMain::StartWorker(const SupplyIdentity& identity) {
    // Once closing has begun, a connect starts nothing that would outlive the window.
    if (StopRequested)
        return;
    auto worker = std::make_unique<TbaseThread>(*this, *this);
    // A later worker's points follow the earlier ones instead of running back to x = 1.
    worker->SampleBase = cht1->LastKey();
    worker->Identity = identity;
    worker->Sink = MakeReadingSink();
    LaunchWorker(std::move(worker));
}

// ---- The worker's view ----------------------------------------------------------------------

void TFrmMain::AppendSample(double sample, double volts, double amperes, double watts) {
    cht1->AppendPoint(sample, volts);
    cht2->AppendPoint(sample, amperes);
    cht3->AppendPoint(sample, watts);
}

void TFrmMain::ShowReadingTexts(const std::string& volts, const std::string& amperes,
                                const std::string& watts) {
    show_v->setText(WireText(volts));
    show_I->setText(WireText(amperes));
    show_w->setText(WireText(watts));
    lastGoodReading_ = QTime::currentTime();
    ShowReadoutsLive(true);
}

void TFrmMain::ShowReadingMissing() {
    ShowReadoutsLive(false);
}

void TFrmMain::ShowWorkerEnded() {
    ShowReadoutsLive(false);
}

void TFrmMain::ShowSinkProblem(const std::string& problem) {
    sinkProblem_ = QString::fromStdString(problem);
    ShowReadoutsLive(readoutsLive_);
}

void TFrmMain::ShowReadoutsLive(bool live) {
    readoutsLive_ = live;
    QStringList tip;
    if (!live)
        tip << QStringLiteral("最后更新 ") + lastGoodReading_.toString(QStringLiteral("HH:mm:ss"));
    if (!sinkProblem_.isEmpty())
        tip << sinkProblem_;
    const QPalette::ColorGroup shade = live ? QPalette::Active : QPalette::Disabled;
    const QColor text = QApplication::palette().color(shade, QPalette::Text);
    for (QLineEdit* readout : {show_v, show_I, show_w}) {
        QPalette palette = readout->palette();
        palette.setColor(QPalette::Active, QPalette::Text, text);
        palette.setColor(QPalette::Inactive, QPalette::Text, text);
        readout->setPalette(palette);
        readout->setToolTip(tip.join('\n'));
    }
}

void TFrmMain::Synchronize(const std::function<void()>& routine) {
    if (QThread::currentThread() == thread()) {
        routine();
        return;
    }
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        this,
        [&] {
            try {
                routine();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure)
        std::rethrow_exception(failure);
}

// ---- Setpoints, presets, closing ------------------------------------------------------------

void TFrmMain::QueueSetpoint(SetpointSpinBox* field, const char* prefix) {
    field->setFocus();
    field->CommitText();
    // The wire always carries "." whatever decimal mark the field shows.
    CommandQueue.Append(prefix + SetpointText(field->value()));
}

void TFrmMain::b_set_VClick() {
    QueueSetpoint(e_set_v, CmdSetVoltagePrefix);
}
void TFrmMain::b_set_IClick() {
    QueueSetpoint(e_set_i, CmdSetCurrentPrefix);
}
void TFrmMain::b_data_1Click() {
    CommandQueue.Append(CmdApplyPreset1);
}
void TFrmMain::b_data_2Click() {
    CommandQueue.Append(CmdApplyPreset2);
}
void TFrmMain::b_data_3Click() {
    CommandQueue.Append(CmdApplyPreset3);
}

void TFrmMain::closeEvent(QCloseEvent* event) {
    // A second close request while the first is still waiting for the worker is ignored.
    if (closing_) {
        event->ignore();
        return;
    }
    closing_ = true;
    FormClose();
    event->accept();
}

void TFrmMain::FormClose() {
    StopRequested = true;
    DelayPumping(1000);
    PumpUntil([] { return Worker.load() == nullptr; });
}

void TFrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (centred_)
        return;
    centred_ = true;
    CentreOnDesktop();
    // A window manager may add its frame only when it maps the window, so the frame is known
    // for sure at the first exposure: the window is centred again if it turned out otherwise.
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(this);
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
    QWindow* handle = windowHandle();
    if (watched == handle && event->type() == QEvent::Expose) {
        handle->removeEventFilter(this);
        if (handle->frameMargins() != centredMargins_)
            CentreOnDesktop();
    }
    return QWidget::eventFilter(watched, event);
}

void TFrmMain::CentreOnDesktop() {
    const QScreen* screen = this->screen();
    const QWindow* handle = windowHandle();
    if (!screen || !handle)
        return;
    centredMargins_ = handle->frameMargins();
    QRect outer(QPoint(), size().grownBy(centredMargins_));
    outer.moveCenter(screen->availableGeometry().center());
    // Placed by the client area, so the frame lands where it was computed to go.
    const QPoint client = outer.topLeft() + QPoint(centredMargins_.left(), centredMargins_.top());
    setGeometry(QRect(client, size()));
}
