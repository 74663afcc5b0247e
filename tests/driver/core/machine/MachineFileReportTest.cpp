// What start-up reports about the machine file: log lines and host messages.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "driver/comm/log/LogLine.h"
#include "driver/core/machine/MachineFileReport.h"
#include "host/HostConfig.h"
#include "host/HostRecorder.h"
#include "host/QlnServices.h"

namespace {

TEST(MachineFileReport, FailureLogsAndShowsMessage561AndNoInitSequenceIsLogged) {
    QlnConfig().reset();
    QlnConfig().echoMessageBoxes = false;
    QlnRecorder().clear();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString logName = dir.filePath("log.txt");
    ASSERT_EQ(TheDebugLog().OpenLogFile(logName.toStdWString().c_str(), 0, nullptr), 1);

    ReportMachineFileFailure(qlnTheApp, qlnTheApp->hostIface);
    MachineConfig withSequence;
    withSequence.initializationCommand = L"\"INIT\"";
    EXPECT_FALSE(LogMissingInitializationSequence(withSequence));
    EXPECT_TRUE(LogMissingInitializationSequence(MachineConfig{}));
    TheDebugLog().CloseLogFile();

    const std::vector<HostEvent> boxes = QlnRecorder().eventsOf(HostEventKind::MessageBox);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].id, 561);
    EXPECT_EQ(boxes[0].ints.at(0), static_cast<int>(kQlnBoxOk));
    const std::vector<HostEvent> status = QlnRecorder().eventsOf(HostEventKind::StatusMessage);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].id, 561);

    QFile log(logName);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(
        text.endsWith("-Tactus: Error opening the file, TACConfigData.xml, for reading!\n"
                      "-Tactus: No initialization sequence!\n"))
        << text.toStdString();
}

}  // namespace
