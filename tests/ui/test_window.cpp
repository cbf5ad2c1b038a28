#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <map>

#include "WindowFixture.h"
#include "ui/SetpointSpinBox.h"
#include "ui/TrendChart.h"

namespace {

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

QList<QPushButton*> Buttons(TFrmMain& w) {
    return {w.b1, w.b_data_1, w.b_data_2, w.b_data_3, w.b_set_V, w.b_set_I};
}

QLineEdit* Editor(SetpointSpinBox* field) {
    return field->findChild<QLineEdit*>();
}

bool AllEnabled(TFrmMain& w) {
    for (QPushButton* b : Buttons(w))
        if (!b->isEnabled())
            return false;
    return true;
}

} // namespace

TEST_F(WindowTest, CreationFillsListsPreselectsSettingsAndStartsEmpty) {
    LinkPort(5, "/dev/null");
    LinkPort(2, "/dev/null");
    ComPortName = "com5"; // letter case does not matter
    ComBaudRate = 19200;
    CreateWindow();

    const QStringList ports = Items(window->c_com);
    ASSERT_GE(ports.indexOf("COM2"), 0);
    EXPECT_LT(ports.indexOf("COM2"), ports.indexOf("COM5"));
    EXPECT_EQ(window->c_com->currentText(), "COM5");
    EXPECT_EQ(Items(window->c_bt), QStringList({"9600", "19200", "115200"}));
    EXPECT_EQ(window->c_bt->currentText(), "19200");
    for (QLineEdit* e : {window->show_v, window->show_I, window->show_w})
        EXPECT_EQ(e->text(), "0.00");
    EXPECT_EQ(window->e_set_v->text(), "0.00");
    EXPECT_EQ(window->e_set_i->text(), "0.00");
    EXPECT_TRUE(window->mm1->toPlainText().isEmpty());
    EXPECT_TRUE(AllEnabled(*window));
    EXPECT_EQ(PollCommand, "READ:ALL?");
    const QStringList titles = {"电压", "电流", "功率"};
    const TrendChart* charts[] = {window->cht1, window->cht2, window->cht3};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(charts[i]->Series()->name(), titles[i]);
        EXPECT_EQ(charts[i]->Series()->dataCount(), 0);
        EXPECT_EQ(charts[i]->LeftMinimum(), 0);
        EXPECT_EQ(charts[i]->LeftMaximum(), 0);
    }
}

TEST_F(WindowTest, WindowIsSizeableWithoutMaximiseCentredAndKeepsItsControlsWhenResized) {
    CreateWindow();
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window->size(), QSize(945, 564));
    const QRect desktop = window->screen()->availableGeometry();
    // The offscreen screen is narrower than the window, and the platform nudges a window whose
    // frame starts left of it by the frame's width.
    const QPoint offCentre = window->frameGeometry().center() - desktop.center();
    EXPECT_LE(offCentre.manhattanLength(), 2) << offCentre.x() << "," << offCentre.y();

    std::map<QString, QRect> places;
    for (const QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        places[child->objectName()] = child->geometry();
    window->resize(1200, 760);
    ASSERT_TRUE(PumpFor([&] { return window->size() == QSize(1200, 760); }));
    for (const QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_EQ(child->geometry(), places[child->objectName()])
            << child->objectName().toStdString();
    window->resize(800, 500);
    ASSERT_TRUE(PumpFor([&] { return window->size() == QSize(800, 500); }));
}

TEST_F(WindowTest, SavedSettingsThatAreAbsentSelectNothing) {
    ComPortName = "COM42";
    ComBaudRate = 38400;
    CreateWindow();
    EXPECT_EQ(window->c_com->currentIndex(), -1);
    EXPECT_EQ(window->c_bt->currentIndex(), -1);
    EXPECT_TRUE(window->c_bt->currentText().isEmpty());
}

TEST_F(WindowTest, ConnectIdentifiesShowsFirstReadingSavesSettingsAndStartsWorker) {
    StartSim(7);
    CreateWindow();
    const SeenBox box = Connect();
    EXPECT_FALSE(box.shown) << box.text.toStdString();

    const QStringList memo = window->mm1->toPlainText().split('\n');
    ASSERT_EQ(memo.size(), 5);
    EXPECT_EQ(memo[0], "型号: PSU3010N");
    EXPECT_TRUE(memo[1].startsWith("序列号: SN")) << memo[1].toStdString();
    EXPECT_EQ(memo[2], "版本号: V1.0");
    EXPECT_EQ(memo[3], "额定最大电压: 30V");
    EXPECT_EQ(memo[4], "额定最大电流: 10A");
    const TrendChart* charts[] = {window->cht1, window->cht2, window->cht3};
    const double maxima[] = {30, 10, 300};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(charts[i]->LeftMaximum(), maxima[i]);
        EXPECT_EQ(charts[i]->yAxis->range(), QCPRange(0, maxima[i]));
    }
    EXPECT_NE(window->show_v->text(), "0.00"); // the simulated supply starts on its first preset
    EXPECT_EQ(window->cht1->Series()->dataCount(), 0) << "the connect reading is not plotted";
    EXPECT_NE(Worker.load(), nullptr);
    EXPECT_TRUE(AllEnabled(*window));
    EXPECT_EQ(testsupport::ReadFile(dir.Path() + "config.ini"),
              "[com Info]\r\ncom=COM7\r\nbaut=115200\r\n");

    // The worker's first point arrives one interval later, as sample 1.
    ASSERT_TRUE(PumpFor([&] { return window->cht1->Series()->dataCount() >= 1; }));
    EXPECT_EQ(window->cht1->Series()->data()->begin()->key, 1);
    EXPECT_EQ(window->cht3->Series()->dataCount(), window->cht1->Series()->dataCount());
}

TEST_F(WindowTest, SinglePresetSupplyDisablesPresetsTwoAndThree) {
    StartSim(8, {"--model", "PSU3005a"});
    CreateWindow();
    EXPECT_FALSE(Connect().shown);
    EXPECT_FALSE(window->b_data_2->isEnabled());
    EXPECT_FALSE(window->b_data_3->isEnabled());
    for (QPushButton* b : {window->b1, window->b_data_1, window->b_set_V, window->b_set_I})
        EXPECT_TRUE(b->isEnabled());
    EXPECT_EQ(window->cht3->LeftMaximum(), 150);
}

TEST_F(WindowTest, SpinFieldsCommitTypedTextWhenFocusLeaves) {
    CreateWindow();
    const struct {
        const char* typed;
        const char* committed;
    } cases[] = {{"60", "60.00"}, {"75", "60.00"},  {"1.5", "1.50"}, {"-5", "0.00"},
                 {"", "0.00"},    {"+12", "12.00"}, {".", "0.00"},   {"007.125", "7.13"}};
    for (const auto& c : cases) {
        window->e_set_v->setFocus();
        Editor(window->e_set_v)->setText(c.typed);
        window->show_v->setFocus();
        EXPECT_EQ(window->e_set_v->text(), c.committed) << "typed '" << c.typed << "'";
    }
}

TEST_F(WindowTest, SpinFieldsRefuseCharactersOutsideANumber) {
    CreateWindow();
    window->e_set_v->setFocus();
    Editor(window->e_set_v)->clear();
    QTest::keyClicks(window->e_set_v, "1a2.3.4-+x");
    EXPECT_EQ(Editor(window->e_set_v)->text(), "12.34");
}

TEST_F(WindowTest, SpinFieldsStepBySingleStepAndByPage) {
    CreateWindow();
    SetpointSpinBox* field = window->e_set_v;
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Up);
    EXPECT_EQ(field->text(), "0.01");
    QTest::keyClick(field, Qt::Key_PageUp);
    EXPECT_EQ(field->text(), "10.01");
    for (int i = 0; i < 7; ++i)
        QTest::keyClick(field, Qt::Key_PageUp);
    EXPECT_EQ(field->text(), "60.00");
    QTest::keyClick(field, Qt::Key_PageDown);
    EXPECT_EQ(field->text(), "50.00");
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(field->text(), "49.99");
}

TEST_F(WindowTest, ButtonsQueueTheirLinesWithTheCommittedSetpoint) {
    CreateWindow();
    window->e_set_v->setFocus();
    Editor(window->e_set_v)->setText("75");
    QTest::mouseClick(window->b_set_V, Qt::LeftButton);
    window->e_set_i->setFocus();
    Editor(window->e_set_i)->setText("1.5");
    QTest::mouseClick(window->b_set_I, Qt::LeftButton);
    EXPECT_TRUE(window->e_set_i->hasFocus()) << "the setpoint handler puts the focus back";
    QTest::mouseClick(window->b_data_3, Qt::LeftButton);
    QTest::mouseClick(window->b_data_1, Qt::LeftButton);
    QTest::mouseClick(window->b_data_2, Qt::LeftButton);

    std::vector<std::string> queued;
    while (auto line = CommandQueue.TakeFirst())
        queued.push_back(*line);
    EXPECT_EQ(queued,
              (std::vector<std::string>{"SOUR:VOLT 60.00", "SOUR:CURR 1.50", "SOUR:APPLY M3",
                                        "SOUR:APPLY M1", "SOUR:APPLY M2"}));
}

TEST_F(WindowTest, QueuedLinesReachTheSupplyInOrderOnePerCycle) {
    StartSim(9);
    CreateWindow();
    // Queued before the connect: sent by the worker that the connect starts.
    QTest::mouseClick(window->b_data_2, Qt::LeftButton);
    window->e_set_v->setFocus();
    Editor(window->e_set_v)->setText("12.5");
    QTest::mouseClick(window->b_set_V, Qt::LeftButton);
    ASSERT_FALSE(Connect().shown);

    ASSERT_TRUE(PumpFor([&] { return Transcript().find("SOUR:VOLT 12.50") != std::string::npos; }));
    ASSERT_TRUE(PumpFor([&] { return window->show_v->text() == "12.50"; }))
        << window->show_v->text().toStdString();
    const std::string t = Transcript();
    const auto idn = t.find("*IDN?"), m2 = t.find("SOUR:APPLY M2"),
               volt = t.find("SOUR:VOLT 12.50");
    ASSERT_NE(m2, std::string::npos);
    EXPECT_LT(idn, m2);
    EXPECT_LT(m2, volt);
    // One poll between the two queued lines.
    EXPECT_NE(t.substr(m2, volt - m2).find("READ:ALL?"), std::string::npos);
}

TEST_F(WindowTest, ClosingWithoutWorkerTakesAboutOneSecond) {
    CreateWindow();
    const auto start = std::chrono::steady_clock::now();
    CloseWindow();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_TRUE(StopRequested);
}

TEST_F(WindowTest, ClosingStopsTheWorkerBeforeTheWindowCloses) {
    StartSim(10, {"--delay-ms", "800"});
    CreateWindow();
    ASSERT_FALSE(Connect().shown);
    ASSERT_NE(Worker.load(), nullptr);
    CloseWindow();
    EXPECT_EQ(Worker.load(), nullptr);
}

TEST_F(WindowTest, ConnectWhileAWorkerRunsReplacesItAndTheNewPointsFollowTheOldOnes) {
    StartSim(11);
    CreateWindow();
    const TrendChart* charts[] = {window->cht1, window->cht2, window->cht3};
    auto pointsOf = [&] {
        std::vector<std::vector<std::pair<double, double>>> all;
        for (const TrendChart* chart : charts) {
            all.emplace_back();
            for (const QCPGraphData& point : *chart->Series()->data())
                all.back().emplace_back(point.key, point.value);
        }
        return all;
    };
    auto isPrefix = [](const auto& prefix, const auto& whole) {
        return prefix.size() <= whole.size() &&
               std::equal(prefix.begin(), prefix.end(), whole.begin());
    };
    ASSERT_FALSE(Connect().shown);
    ASSERT_TRUE(PumpFor([&] { return window->cht3->Series()->dataCount() >= 2; }));
    const auto whileFirstRuns = pointsOf();

    ASSERT_FALSE(Connect().shown);
    EXPECT_NE(Worker.load(), nullptr);
    EXPECT_EQ(window->mm1->toPlainText().count("型号: "), 2);
    // The first worker has ended; the second one's first point is a second away.
    const auto firstWorker = pointsOf();
    ASSERT_TRUE(PumpFor(
        [&] { return window->cht3->Series()->dataCount() >= int(firstWorker[2].size()) + 2; }));

    const auto both = pointsOf();
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(charts[c]->objectName().toStdString());
        EXPECT_TRUE(isPrefix(whileFirstRuns[c], firstWorker[c]));
        EXPECT_TRUE(isPrefix(firstWorker[c], both[c])) << "the first worker's points stay";
        for (std::size_t i = 1; i < both[c].size(); ++i)
            EXPECT_LT(both[c][i - 1].first, both[c][i].first) << "x runs on at point " << i;
        ASSERT_GT(both[c].size(), firstWorker[c].size());
        EXPECT_EQ(both[c][firstWorker[c].size()].first, firstWorker[c].back().first + 1);
    }
}
