// The window against a misbehaving supply, a settings file it cannot write, malformed replies at
// connect, and operator input the spin fields must survive.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTime>
#include <atomic>
#include <optional>
#include <sys/stat.h>

#include "WindowFixture.h"
#include "protocol/Protocol.h"
#include "support/LogCount.h"
#include "support/PeerResponder.h"
#include "support/PortHolder.h"
#include "support/PtyPeer.h"
#include "ui/SetpointSpinBox.h"
#include "ui/TrendChart.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const QStringList kFirstPreset = {"5.00", "0.50", "2.50"};
const QStringList kUntouched = {"0.00", "0.00", "0.00"};
const QString kNoReply = "1 秒内没有收到完整的应答。";
const std::string kGoodIdentity = "PSU,SIM,1,SN1,V1.0,XYZ3010N\n";
const QStringList kGoodMemo = {"型号: XYZ3010N", "序列号: SN1", "版本号: V1.0", "额定最大电压: 30V",
                               "额定最大电流: 10A"};

QStringList Readouts(const TFrmMain& w) {
    return {w.show_v->text(), w.show_I->text(), w.show_w->text()};
}

QList<double> Keys(const TrendChart* chart) {
    QList<double> keys;
    for (const QCPGraphData& point : *chart->Series()->data())
        keys << point.key;
    return keys;
}

std::size_t SendBadCount(const std::string& appDir) {
    return testsupport::LogCount(appDir, "COMM", "send bad.");
}

// ---- The supply fails while the window runs --------------------------------------------------

TEST_F(WindowTest, VanishedPortChangesNothingAndPollingResumesWhenItIsBack) {
    StartSim(12);
    CreateWindow();
    BoxAnswerer boxes; // none may appear
    ASSERT_FALSE(Connect().shown);
    ASSERT_TRUE(PumpFor([&] { return window->cht1->Series()->dataCount() >= 2; }));
    TbaseThread* const worker = Worker.load();
    const QString memo = window->mm1->toPlainText();
    sim->Stop();

    // Once a transaction has failed, the last reading is in the window; later ones change nothing.
    ASSERT_TRUE(PumpFor([&] { return SendBadCount(dir.Path()) >= 1; }));
    const QStringList readouts = Readouts(*window);
    const int points = window->cht1->Series()->dataCount();
    ASSERT_TRUE(PumpFor([&] { return SendBadCount(dir.Path()) >= 4; }));
    EXPECT_EQ(Readouts(*window), readouts);
    for (const TrendChart* chart : {window->cht1, window->cht2, window->cht3})
        EXPECT_EQ(chart->Series()->dataCount(), points);

    // The same port again; ComPortName stays as it is, since the worker reads it.
    sim = std::make_unique<testsupport::SimProcess>(dir.Path(), 12,
                                                    std::vector<std::string>{"--noise", "0"});
    ASSERT_TRUE(PumpFor([&] { return window->cht1->Series()->dataCount() > points; }));
    EXPECT_EQ(Worker.load(), worker) << "the same worker reads again";
    EXPECT_EQ(window->mm1->toPlainText(), memo) << "no reconnect";
    EXPECT_EQ(Readouts(*window), kFirstPreset);
    EXPECT_FALSE(boxes.seen.shown) << boxes.seen.text.toStdString();
}

TEST_F(WindowTest, GarbledRepliesLeaveNoPartialPointAndNeverReachTheReadouts) {
    StartSim(13, {"--garble-every", "2"}); // the connect reads reply 1; the worker's 1st poll is 2
    CreateWindow();
    auto shown = std::make_shared<QStringList>();
    for (QLineEdit* readout : {window->show_v, window->show_I, window->show_w})
        QObject::connect(readout, &QLineEdit::textChanged,
                         [shown](const QString& t) { *shown << t; });
    ASSERT_FALSE(Connect().shown);
    // Four cycles of at least a second each.
    ASSERT_TRUE(PumpFor([&] { return window->cht1->Series()->dataCount() >= 2; }, 30000));
    CloseWindow();

    const QList<double> keys = Keys(window->cht1);
    EXPECT_EQ(keys.mid(0, 2), (QList<double>{2, 4})) << "samples 1 and 3 were garbled";
    EXPECT_EQ(Keys(window->cht2), keys);
    EXPECT_EQ(Keys(window->cht3), keys);
    for (const QString& text : *shown)
        EXPECT_TRUE(kFirstPreset.contains(text)) << text.toStdString();
}

// ---- Read-outs that no longer follow the supply ----------------------------------------------

enum class Staleness { SilentSupply, GarbledReply, PortVanishes, WorkerEnds };

struct StaleCase {
    const char* what;
    Staleness how;
};

void PrintTo(const StaleCase& c, std::ostream* out) {
    *out << c.what;
}

// The text colour each read-out shows in the active and the inactive window, and its tool tip.
struct ReadoutLook {
    QColor active, inactive;
    QString tip;
    bool operator==(const ReadoutLook&) const = default;
};

QList<ReadoutLook> Looks(const TFrmMain& w) {
    QList<ReadoutLook> looks;
    for (const QLineEdit* e : {w.show_v, w.show_I, w.show_w})
        looks << ReadoutLook{e->palette().color(QPalette::Active, QPalette::Text),
                             e->palette().color(QPalette::Inactive, QPalette::Text), e->toolTip()};
    return looks;
}

QList<ReadoutLook> AllThree(const QColor& colour, const QString& tip) {
    return QList<ReadoutLook>(3, ReadoutLook{colour, colour, tip});
}

class StaleReadouts : public WindowTest, public ::testing::WithParamInterface<StaleCase> {
protected:
    static constexpr int kPort = 130;
    void StartScriptedSupply() {
        peer.LinkAs(dir.Path(), kPort);
        supply.emplace(peer, [this](const std::string& line) -> std::optional<std::string> {
            if (line == CmdIdentify)
                return refuseIdentity ? std::nullopt : std::optional(kGoodIdentity);
            return silent ? std::nullopt : std::optional<std::string>("5.00,0.50,2.50\n");
        });
        ComPortName = "COM" + std::to_string(kPort);
    }

    serialtest::PtyPeer peer;
    std::atomic<bool> silent{false}, refuseIdentity{false};
    std::optional<serialtest::PeerResponder> supply;
};

TEST_P(StaleReadouts, ShowTheDisabledColourAndTheTimeOfTheLastGoodReadingUntilTheNextOne) {
    const Staleness how = GetParam().how;
    const QColor live = QApplication::palette().color(QPalette::Active, QPalette::Text);
    const QColor stale = QApplication::palette().color(QPalette::Disabled, QPalette::Text);
    ASSERT_NE(live, stale) << "the style must tell the two apart";
    // The connect reads reply 1; the worker's polls get 2 (good), 3 (garbled) and 4 (good).
    if (how == Staleness::GarbledReply)
        StartSim(kPort, {"--garble-every", "3"});
    else if (how == Staleness::PortVanishes)
        StartSim(kPort);
    else
        StartScriptedSupply();
    CreateWindow();
    const QList<ReadoutLook> untouched = Looks(*window);
    EXPECT_EQ(untouched, AllThree(live, "")) << "before the first connect they look as always";
    ASSERT_FALSE(Connect().shown);
    EXPECT_EQ(Looks(*window), untouched) << "the connect's reading is live";

    // When the last point came, as near as the test can see it.
    int points = 0;
    QTime lastPointSeen;
    auto follow = [&] {
        if (window->cht1->Series()->dataCount() > points) {
            points = window->cht1->Series()->dataCount();
            lastPointSeen = QTime::currentTime();
        }
    };
    ASSERT_TRUE(PumpFor([&] {
        follow();
        return points >= 1;
    }));
    switch (how) {
    case Staleness::SilentSupply:
        silent = true;
        break;
    case Staleness::GarbledReply:
        break; // the worker's second poll is garbled
    case Staleness::PortVanishes:
        sim->Stop();
        break;
    case Staleness::WorkerEnds:
        refuseIdentity = true;
        EXPECT_EQ(Connect().text, "连接失败。"); // it stopped the worker, and starts none
        EXPECT_EQ(Worker.load(), nullptr);
        break;
    }
    ASSERT_TRUE(PumpFor([&] {
        follow();
        return Looks(*window)[0].active == stale;
    }));
    const QString tip = Looks(*window)[0].tip;
    EXPECT_EQ(Looks(*window), AllThree(stale, tip));
    ASSERT_TRUE(tip.startsWith("最后更新 ")) << tip.toStdString();
    const QTime lastGood = QTime::fromString(tip.mid(5), "HH:mm:ss");
    ASSERT_TRUE(lastGood.isValid()) << tip.toStdString();
    // The time of the last reading, not of the first one missed (a second or more later).
    const int behind = (lastGood.secsTo(lastPointSeen) + 86400) % 86400;
    EXPECT_LE(behind, 1) << tip.toStdString();

    switch (how) {
    case Staleness::SilentSupply:
        silent = false;
        break;
    case Staleness::GarbledReply:
        break; // the third poll is good again
    case Staleness::PortVanishes:
        sim = std::make_unique<testsupport::SimProcess>(dir.Path(), kPort,
                                                        std::vector<std::string>{"--noise", "0"});
        break;
    case Staleness::WorkerEnds:
        refuseIdentity = false;
        EXPECT_FALSE(Connect().shown);
        break;
    }
    ASSERT_TRUE(PumpFor([&] { return Looks(*window) == untouched; }, 15000));
    EXPECT_EQ(Readouts(*window), kFirstPreset);
}

INSTANTIATE_TEST_SUITE_P(Faults, StaleReadouts,
                         ::testing::Values(StaleCase{"SilentSupply", Staleness::SilentSupply},
                                           StaleCase{"GarbledReply", Staleness::GarbledReply},
                                           StaleCase{"PortVanishes", Staleness::PortVanishes},
                                           StaleCase{"WorkerEnds", Staleness::WorkerEnds}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST_F(WindowTest, ClosingWhileASlowReplyIsUnderWayWaitsForItsReading) {
    StartSim(14, {"--delay-ms", "800"});
    CreateWindow();
    ASSERT_FALSE(Connect().shown);
    // The worker's first poll is on its way: the supply takes 800 ms to answer it.
    ASSERT_TRUE(PumpFor([&] { return testsupport::CountOf(Transcript(), CmdReadAll) >= 2; }));
    CloseWindow();

    EXPECT_EQ(Worker.load(), nullptr);
    EXPECT_FALSE(window->isVisible());
    // Every poll the worker sent was answered and plotted before the window closed.
    EXPECT_EQ(window->cht1->Series()->dataCount(),
              static_cast<int>(testsupport::CountOf(Transcript(), CmdReadAll)) - 1);
    EXPECT_EQ(Readouts(*window), kFirstPreset);
}

// ---- The settings file cannot be written at connect ------------------------------------------

struct RefusedSave {
    const char* what;
    void (*prepare)(const std::string& configPath);
};

// Names the case in test listings, the same in every run.
void PrintTo(const RefusedSave& c, std::ostream* out) {
    *out << c.what;
}

class SaveRefused : public WindowTest, public ::testing::WithParamInterface<RefusedSave> {};

TEST_P(SaveRefused, ShowsTheErrorStartsNoWorkerAndReenablesTheButtons) {
    const std::string config = dir.Path() + "config.ini";
    GetParam().prepare(config);
    const std::string before = testsupport::ReadFile(config);
    StartSim(15);
    CreateWindow();

    const SeenBox box = Connect();

    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.title, QApplication::applicationName());
    EXPECT_EQ(box.text.toStdString(), "Unable to write to " + config + ".");
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(Worker.load(), nullptr);
    for (const QPushButton* button : window->findChildren<QPushButton*>())
        EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_EQ(Readouts(*window), kFirstPreset) << "the first reading is shown before the save";
    EXPECT_EQ(testsupport::ReadFile(config), before) << "the file stays as it was";
}

INSTANTIATE_TEST_SUITE_P(
    Files, SaveRefused,
    ::testing::Values(RefusedSave{"ReadOnlyFile",
                                  [](const std::string& path) {
                                      testsupport::WriteFile(path, "[com Info]\r\ncom=COM1\r\n");
                                      ASSERT_EQ(chmod(path.c_str(), 0444), 0);
                                  }},
                      RefusedSave{"DirectoryInTheWay",
                                  [](const std::string& path) { fs::create_directory(path); }}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- Malformed replies at connect ------------------------------------------------------------

struct ConnectCase {
    const char* what;
    std::optional<std::string> identity; // nothing: no answer at all
    std::optional<std::string> readings;
    QString box;          // text of the box the connect ends with; empty for none
    QString detail;       // the box's informative text
    QStringList memo;     // the device information afterwards
    QStringList readouts; // the read-outs afterwards
    bool workerStarts;
};

void PrintTo(const ConnectCase& c, std::ostream* out) {
    *out << c.what;
}

class MalformedAtConnect : public WindowTest, public ::testing::WithParamInterface<ConnectCase> {
protected:
    static constexpr int kPort = 20;
};

TEST_P(MalformedAtConnect, EndsInItsDefinedOutcome) {
    const ConnectCase& c = GetParam();
    serialtest::PtyPeer peer;
    peer.LinkAs(dir.Path(), kPort);
    serialtest::PeerResponder supply(peer, [&](const std::string& line) {
        return line == CmdIdentify ? c.identity : c.readings;
    });
    ComPortName = "COM" + std::to_string(kPort);
    CreateWindow();

    const SeenBox box = Connect();

    EXPECT_EQ(box.shown ? box.text : QString(), c.box);
    EXPECT_EQ(box.informative, c.detail);
    EXPECT_EQ(window->mm1->toPlainText().split('\n', Qt::SkipEmptyParts), c.memo);
    EXPECT_EQ(Readouts(*window), c.readouts);
    EXPECT_EQ(Worker.load() != nullptr, c.workerStarts);
    EXPECT_TRUE(window->b1->isEnabled());
    EXPECT_EQ(fs::exists(dir.Path() + "config.ini"), c.workerStarts);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MalformedAtConnect,
    ::testing::Values(
        ConnectCase{
            "NoIdentity", std::nullopt, "1,2,3\n", "连接失败。", kNoReply, {}, kUntouched, false},
        ConnectCase{"BareLineFeed",
                    "\n",
                    "1,2,3\n",
                    "连接失败。",
                    "收到的应答无法识别（空行）。",
                    {},
                    kUntouched,
                    false},
        ConnectCase{"NoCommas",
                    "GARBAGE\n",
                    "1,2,3\n",
                    "'AG' is not a valid integer value.",
                    "",
                    {"型号: GARBAGE", "序列号: ", "版本号: "},
                    kUntouched,
                    false},
        ConnectCase{"ModelTooShort",
                    "A,B,C,SN1,V1,XYZ05N\n",
                    "1,2,3\n",
                    "'' is not a valid integer value.",
                    "",
                    {"型号: XYZ05N", "序列号: SN1", "版本号: V1"},
                    kUntouched,
                    false},
        ConnectCase{"RatingBeyond32Bits",
                    "A,B,C,SN1,V1,XYZ9999999999910N\n",
                    "1,2,3\n",
                    "'99999999999' is not a valid integer value.",
                    "",
                    {"型号: XYZ9999999999910N", "序列号: SN1", "版本号: V1"},
                    kUntouched,
                    false},
        ConnectCase{"NegativeRating",
                    "A,B,C,SN1,V1,XYZ-510N\n",
                    "1,2,3\n",
                    "Axis Maximum Value must be >= Minimum.",
                    "",
                    {"型号: XYZ-510N", "序列号: SN1", "版本号: V1", "额定最大电压: -5V",
                     "额定最大电流: 10A"},
                    kUntouched,
                    false},
        ConnectCase{"BytesBeyondAscii",
                    "A,B,C,S\0N,V\xff,XYZ3010N\n"s,
                    "1,2,3\n",
                    "",
                    "",
                    {"型号: XYZ3010N", QStringLiteral("序列号: S") + QChar(0) + "N",
                     QStringLiteral("版本号: V") + QChar(0xff), "额定最大电压: 30V",
                     "额定最大电流: 10A"},
                    {"1", "2", "3"},
                    true},
        ConnectCase{"NoReadings", kGoodIdentity, std::nullopt, "连接失败。", kNoReply, kGoodMemo,
                    kUntouched, false},
        ConnectCase{
            "ErrorForReadings", kGoodIdentity, "ERR\n", "", "", kGoodMemo, {"", "", "ERR"}, true},
        ConnectCase{"FourReadings",
                    kGoodIdentity,
                    " 1 , 2 ,3,4\r\n",
                    "",
                    "",
                    kGoodMemo,
                    {"1", "2", "3,4"},
                    true}),
    [](const auto& info) { return std::string(info.param.what); });

// ---- A connect that fails at the port --------------------------------------------------------

enum class PortFault { NotSelected, DeviceGone, HeldElsewhere, NotASerialLine, Silent };

struct FailureCase {
    const char* what;
    PortFault fault;
    QString detail; // the box's informative text; %1 stands for the AppDir
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.what;
}

class ConnectFailure : public WindowTest, public ::testing::WithParamInterface<FailureCase> {
protected:
    static constexpr int kPort = 131;
    const std::string portPath = dir.Path() + "ports/com" + std::to_string(kPort);
};

TEST_P(ConnectFailure, ShowsTheBoxWithItsCauseAndLeavesNothingBehind) {
    const FailureCase& c = GetParam();
    serialtest::PtyPeer peer;
    std::optional<testsupport::PortHolder> holder;
    ComPortName = "COM" + std::to_string(kPort);
    ComBaudRate = 19200;
    switch (c.fault) {
    case PortFault::NotSelected:
        ComPortName = "COM42"; // not present: nothing selected
        break;
    case PortFault::DeviceGone:
    case PortFault::NotASerialLine:
        LinkPort(kPort, "/dev/null");
        break;
    case PortFault::HeldElsewhere:
        peer.LinkAs(dir.Path(), kPort);
        holder.emplace(peer.DevicePath());
        ASSERT_TRUE(holder->held());
        break;
    case PortFault::Silent:
        StartSim(kPort, {"--silent"});
        break;
    }
    CreateWindow();
    if (c.fault == PortFault::DeviceGone) {
        // Listed when the window was made; the link dangles by the time of the connect.
        fs::remove(portPath);
        fs::create_symlink(dir.Path() + "gone", portPath);
    }

    const SeenBox box = Connect();

    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.title, "提示");
    EXPECT_EQ(box.text, "连接失败。");
    EXPECT_EQ(box.informative, QString(c.detail).replace("%1", QString::fromStdString(dir.Path())));
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::Ok);
    for (const QPushButton* button : window->findChildren<QPushButton*>())
        EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();
    EXPECT_TRUE(window->mm1->toPlainText().isEmpty());
    EXPECT_EQ(Readouts(*window), kUntouched);
    EXPECT_EQ(Worker.load(), nullptr);
    EXPECT_FALSE(fs::exists(dir.Path() + "config.ini"));
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ConnectFailure,
    ::testing::Values(
        FailureCase{"NoPortSelected", PortFault::NotSelected, "未选择串口。"},
        FailureCase{"DeviceDoesNotExist", PortFault::DeviceGone,
                    "串口设备不存在：%1ports/com131。"},
        FailureCase{"HeldByAnotherProgram", PortFault::HeldElsewhere, "串口已被其他程序占用。"},
        // A device that is no serial line refuses the line settings, as a port does a baud rate.
        FailureCase{"LineSettingsRefused", PortFault::NotASerialLine,
                    "串口不接受通信设置（波特率 19200）。"},
        FailureCase{"NoReplyWithinTheLimit", PortFault::Silent, kNoReply}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(WindowTest, IdentityWithBlanksAndCrLfIsTrimmedAndItsLowerCaseMarkCounts) {
    serialtest::PtyPeer peer;
    peer.LinkAs(dir.Path(), 21);
    serialtest::PeerResponder supply(
        peer, [](const std::string& line) -> std::optional<std::string> {
            return line == CmdIdentify ? "\t A,B,C,SN9,V2,XYZ3010a \r\n" : "1,2,3\n";
        });
    ComPortName = "COM21";
    CreateWindow();
    ASSERT_FALSE(Connect().shown);
    EXPECT_EQ(window->mm1->toPlainText().split('\n').value(0), "型号: XYZ3010a");
    EXPECT_FALSE(window->b_data_2->isEnabled());
    EXPECT_FALSE(window->b_data_3->isEnabled());
    EXPECT_EQ(window->cht3->LeftMaximum(), 300);
}

// ---- Operator input in the spin fields -------------------------------------------------------

struct FieldInput {
    const char* what;
    QString input;
    bool paste;        // pasted from the clipboard rather than typed
    QString committed; // the value committed, with a full stop, as the wire carries it
};

// The same typing means the same number in a locale with a decimal comma and in one with a full
// stop; only the field's own text shows the locale's mark.
class SpinFieldsInLocale : public WindowTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SpinFieldsInLocale, TurnAnyInputIntoTheNumberTypedWithinRange) {
    const WindowLocale locale(GetParam());
    ASSERT_TRUE(locale.active()) << GetParam() << " is not installed: run scripts/install-deps";
    CreateWindow();
    const QString mark = QLocale().decimalPoint();
    const QString huge = "1" + QString(400, '0'); // beyond the range of a double
    const FieldInput cases[] = {
        {"a decimal full stop", "12.5", false, "12.50"},
        {"a decimal comma", "12,5", false, "12.50"},
        {"a leading mark", ",5", false, "0.50"},
        {"a trailing mark", "12.", false, "12.00"},
        {"a thousand grouped with a full stop", "1.000", false, "1.00"},
        {"a thousand grouped with a comma", "1,000", false, "1.00"},
        {"grouping and a decimal comma", "1.234,5", false, "1.23"}, // the second mark is refused
        {"grouping and a decimal full stop", "1,234.5", false, "1.23"},
        {"a blank as a grouping mark", "1 5", false, "15.00"}, // the blank is refused
        {"two marks in a row", "1..5", false, "1.50"},
        {"twenty digits", "99999999999999999999", false, "60.00"},
        {"beyond a double", huge, false, "60.00"},
        {"beyond a double, pasted", huge, true, "60.00"},
        {"an exponent", "5e1", false, "51.00"}, // the e is refused
        {"a pasted number with a full stop", "12.5", true, "12.50"},
        {"a pasted number with a comma", "12,5", true, "12.50"},
        {"a pasted grouped number", "1.234,56", true, "0.00"}, // refused whole: the field is empty
        {"pasted text with a unit", "12.5 V", true, "0.00"},
        {"pasted letters", "abc", true, "0.00"},
        {"pasted full-width digits", "１２", true, "0.00"},
        {"pasted with several marks", "3.3.3", true, "0.00"},
    };
    SetpointSpinBox* field = window->e_set_v;
    QLineEdit* editor = field->findChild<QLineEdit*>();
    for (const FieldInput& c : cases) {
        SCOPED_TRACE(c.what);
        field->setFocus();
        editor->clear();
        if (c.paste) {
            QApplication::clipboard()->setText(c.input);
            QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        } else {
            QTest::keyClicks(field, c.input);
        }
        QTest::mouseClick(window->b_set_V, Qt::LeftButton);
        QString shown = c.committed;
        EXPECT_EQ(field->text().toStdString(), shown.replace('.', mark).toStdString());
        EXPECT_EQ(CommandQueue.TakeFirst(), CmdSetVoltagePrefix + c.committed.toStdString());
        // The field reads its own text back as the same number.
        QTest::mouseClick(window->b_set_V, Qt::LeftButton);
        EXPECT_EQ(CommandQueue.TakeFirst(), CmdSetVoltagePrefix + c.committed.toStdString());
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, SpinFieldsInLocale,
                         ::testing::Values("de_DE.UTF-8", "en_US.UTF-8", "C"),
                         [](const auto& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

} // namespace
