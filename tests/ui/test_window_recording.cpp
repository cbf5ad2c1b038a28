// The window's connect gives each worker its recording, with the identified supply; a recording
// that cannot be made shows in the read-outs' tool tip.

#include <QLineEdit>
#include <QPushButton>

#include "WindowFixture.h"
#include "common/uCheckAll.h"
#include "support/TestSupport.h"
#include "ui/SetpointSpinBox.h"
#include "ui/TrendChart.h"

namespace {

namespace fs = std::filesystem;

class WindowRecordingTest : public WindowTest {
protected:
    // The one recording under AppDir/Data, or empty while there is none.
    std::string RecordingPath(const std::string& extension = ".csv") const {
        const std::string base = dir.Path() + "Data";
        std::vector<std::string> found;
        if (fs::is_directory(base))
            for (const auto& entry : fs::recursive_directory_iterator(base))
                if (entry.path().extension() == extension)
                    found.push_back(entry.path().string());
        return found.size() == 1 ? found.front() : std::string();
    }
};

TEST_F(WindowRecordingTest, AConnectRecordsEveryReadingAndTheSetpointSentWithTheSupplyBeside) {
    Recording = {};
    StartSim(5);
    CreateWindow();
    ASSERT_FALSE(Connect().shown);
    window->e_set_v->setValue(12.5);
    window->b_set_V->click();
    ASSERT_TRUE(PumpFor([&] {
        const std::string path = RecordingPath();
        return !path.empty() &&
               testsupport::ReadFile(path).find(",SOUR:VOLT 12.50 -> OK\r\n") != std::string::npos;
    })) << "no row with the setpoint";
    const std::string csv = RecordingPath();
    EXPECT_EQ(fs::path(csv).filename().string().substr(17), "_COM5.csv");
    const std::string device = RecordingPath(".ini");
    EXPECT_EQ(IniReadString(device, "device", "model", ""), "PSU3010N");
    EXPECT_EQ(IniReadString(device, "device", "rated_voltage_V", ""), "30");
    EXPECT_EQ(IniReadString(device, "device", "rated_current_A", ""), "10");
    EXPECT_EQ(window->show_v->toolTip(), "");
}

TEST_F(WindowRecordingTest, ARefusedDirectoryShowsInTheReadoutsToolTipWhilePointsArrive) {
    Recording = {true, dir.Path() + "blocked/"};
    testsupport::WriteFile(dir.Path() + "blocked", "a file where the directory should be");
    StartSim(5);
    CreateWindow();
    ASSERT_FALSE(Connect().shown);
    ASSERT_TRUE(PumpFor([&] { return window->cht1->Series()->dataCount() >= 2; }));
    for (QLineEdit* readout : {window->show_v, window->show_I, window->show_w})
        EXPECT_TRUE(readout->toolTip().contains(QStringLiteral("无法创建记录目录")))
            << readout->toolTip().toStdString();
}

TEST_F(WindowRecordingTest, RecordingTurnedOffMakesNoFile) {
    Recording = {false, ""};
    StartSim(5);
    CreateWindow();
    ASSERT_FALSE(Connect().shown);
    ASSERT_TRUE(PumpFor([&] { return window->cht1->Series()->dataCount() >= 2; }));
    EXPECT_FALSE(fs::exists(dir.Path() + "Data"));
}

} // namespace
