// The window against a misbehaving supply, a settings file it cannot write, malformed replies at
// connect, and operator input the spin fields must survive.

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <optional>
#include <sys/stat.h>

#include "WindowFixture.h"
#include "protocol/Protocol.h"
#include "support/LogCount.h"
#include "support/PeerResponder.h"
#include "support/PtyPeer.h"
#include "ui/SetpointSpinBox.h"
#include "ui/TrendChart.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const QStringList kFirstPreset = {"5.00", "0.50", "2.50"};

QStringList Readouts(const TFrmMain& w) {
    return {w.show_v->text(), w.show_I->text(), w.show_w->text()};
}

QList<double> Keys(const TrendChart* chart) {
    QList<double> keys;
    for (const QCPGraphData& point : *chart->series()->data())
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
    ASSERT_TRUE(PumpFor([&] { return window->cht1->series()->dataCount() >= 2; }));
    TbaseThread* const worker = Worker.load();
    const QString memo = window->mm1->toPlainText();
    sim->stop();

    // Once a transaction has failed, the last reading is in the window; later ones change nothing.
    ASSERT_TRUE(PumpFor([&] { return SendBadCount(dir.path()) >= 1; }));
    const QStringList readouts = Readouts(*window);
    const int points = window->cht1->series()->dataCount();
    ASSERT_TRUE(PumpFor([&] { return SendBadCount(dir.path()) >= 4; }));
    EXPECT_EQ(Readouts(*window), readouts);
    for (const TrendChart* chart : {window->cht1, window->cht2, window->cht3})
        EXPECT_EQ(chart->series()->dataCount(), points);

    // The same port again; ComPortName stays as it is, since the worker reads it.
    sim = std::make_unique<testsupport::SimProcess>(dir.path(), 12,
                                                    std::vector<std::string>{"--noise", "0"});
    ASSERT_TRUE(PumpFor([&] { return window->cht1->series()->dataCount() > points; }));
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
    ASSERT_TRUE(PumpFor([&] { return window->cht1->series()->dataCount() >= 2; }, 30000));
    CloseWindow();

    const QList<double> keys = Keys(window->cht1);
    EXPECT_EQ(keys.mid(0, 2), (QList<double>{2, 4})) << "samples 1 and 3 were garbled";
    EXPECT_EQ(Keys(window->cht2), keys);
    EXPECT_EQ(Keys(window->cht3), keys);
    for (const QString& text : *shown)
        EXPECT_TRUE(kFirstPreset.contains(text)) << text.toStdString();
}

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
    EXPECT_EQ(window->cht1->series()->dataCount(),
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
    const std::string config = dir.path() + "config.ini";
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
    QStringList memo;     // the device information afterwards
    QStringList readouts; // the read-outs afterwards
    bool workerStarts;
};

void PrintTo(const ConnectCase& c, std::ostream* out) {
    *out << c.what;
}

const QStringList kUntouched = {"0.00", "0.00", "0.00"};
const std::string kGoodIdentity = "PSU,SIM,1,SN1,V1.0,XYZ3010N\n";
const QStringList kGoodMemo = {"型号: XYZ3010N", "序列号: SN1", "版本号: V1.0", "额定最大电压: 30V",
                               "额定最大电流: 10A"};

class MalformedAtConnect : public WindowTest, public ::testing::WithParamInterface<ConnectCase> {
protected:
    static constexpr int kPort = 20;
};

TEST_P(MalformedAtConnect, EndsInItsDefinedOutcome) {
    const ConnectCase& c = GetParam();
    serialtest::PtyPeer peer;
    peer.LinkAs(dir.path(), kPort);
    serialtest::PeerResponder supply(peer, [&](const std::string& line) {
        return line == CmdIdentify ? c.identity : c.readings;
    });
    ComPortName = "COM" + std::to_string(kPort);
    CreateWindow();

    const SeenBox box = Connect();

    EXPECT_EQ(box.shown ? box.text : QString(), c.box);
    EXPECT_EQ(window->mm1->toPlainText().split('\n', Qt::SkipEmptyParts), c.memo);
    EXPECT_EQ(Readouts(*window), c.readouts);
    EXPECT_EQ(Worker.load() != nullptr, c.workerStarts);
    EXPECT_TRUE(window->b1->isEnabled());
    EXPECT_EQ(fs::exists(dir.path() + "config.ini"), c.workerStarts);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MalformedAtConnect,
    ::testing::Values(
        ConnectCase{"NoIdentity", std::nullopt, "1,2,3\n", "连接失败。", {}, kUntouched, false},
        ConnectCase{"BareLineFeed", "\n", "1,2,3\n", "连接失败。", {}, kUntouched, false},
        ConnectCase{"NoCommas",
                    "GARBAGE\n",
                    "1,2,3\n",
                    "'AG' is not a valid integer value.",
                    {"型号: GARBAGE", "序列号: ", "版本号: "},
                    kUntouched,
                    false},
        ConnectCase{"ModelTooShort",
                    "A,B,C,SN1,V1,XYZ05N\n",
                    "1,2,3\n",
                    "'' is not a valid integer value.",
                    {"型号: XYZ05N", "序列号: SN1", "版本号: V1"},
                    kUntouched,
                    false},
        ConnectCase{"RatingBeyond32Bits",
                    "A,B,C,SN1,V1,XYZ9999999999910N\n",
                    "1,2,3\n",
                    "'99999999999' is not a valid integer value.",
                    {"型号: XYZ9999999999910N", "序列号: SN1", "版本号: V1"},
                    kUntouched,
                    false},
        ConnectCase{"NegativeRating",
                    "A,B,C,SN1,V1,XYZ-510N\n",
                    "1,2,3\n",
                    "Axis Maximum Value must be >= Minimum.",
                    {"型号: XYZ-510N", "序列号: SN1", "版本号: V1", "额定最大电压: -5V",
                     "额定最大电流: 10A"},
                    kUntouched,
                    false},
        ConnectCase{"BytesBeyondAscii",
                    "A,B,C,S\0N,V\xff,XYZ3010N\n"s,
                    "1,2,3\n",
                    "",
                    {"型号: XYZ3010N", QStringLiteral("序列号: S") + QChar(0) + "N",
                     QStringLiteral("版本号: V") + QChar(0xff), "额定最大电压: 30V",
                     "额定最大电流: 10A"},
                    {"1", "2", "3"},
                    true},
        ConnectCase{"NoReadings", kGoodIdentity, std::nullopt, "连接失败。", kGoodMemo, kUntouched,
                    false},
        ConnectCase{
            "ErrorForReadings", kGoodIdentity, "ERR\n", "", kGoodMemo, {"", "", "ERR"}, true},
        ConnectCase{"FourReadings",
                    kGoodIdentity,
                    " 1 , 2 ,3,4\r\n",
                    "",
                    kGoodMemo,
                    {"1", "2", "3,4"},
                    true}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(WindowTest, IdentityWithBlanksAndCrLfIsTrimmedAndItsLowerCaseMarkCounts) {
    serialtest::PtyPeer peer;
    peer.LinkAs(dir.path(), 21);
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
    EXPECT_EQ(window->cht3->leftMaximum(), 300);
}

// ---- Operator input in the spin fields -------------------------------------------------------

struct FieldInput {
    const char* what;
    QString input;
    bool paste; // pasted from the clipboard rather than typed
    QString committed;
};

TEST_F(WindowTest, SpinFieldsTurnAnyInputIntoASetpointInRange) {
    CreateWindow();
    const QString huge = "1" + QString(400, '0'); // beyond the range of a double
    const FieldInput cases[] = {
        {"twenty digits", "99999999999999999999", false, "60.00"},
        {"beyond a double", huge, false, "60.00"},
        {"beyond a double, pasted", huge, true, "60.00"},
        {"two marks in a row", "1..5", false, "1.50"},
        {"a decimal comma", "12,5", false, "60.00"}, // the comma is refused: 125, clamped
        {"an exponent", "5e1", false, "51.00"},      // the e is refused
        {"a pasted number", "12.5", true, "12.50"},
        {"pasted text with a unit", "12.5 V", true, "0.00"}, // refused whole: the field stays empty
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
        EXPECT_EQ(field->text().toStdString(), c.committed.toStdString());
        EXPECT_EQ(CommandQueue.TakeFirst(), CmdSetVoltagePrefix + c.committed.toStdString());
    }
}

} // namespace
