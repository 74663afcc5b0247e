// Fuzz target for VexServer's settings readers: the input is one settings file, read as
// VEX.XML and as VEXENC7480.XML (the simulator's file is never opened, so it needs no
// fuzzing). Beyond memory errors, a finding is any read that breaks what the readers
// promise: a file that does not load leaves every setting but the interface as it was;
// a choice key only ever yields one of its values; no counts-per-unit divisor is 0.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

#include "server/config/ConfigReaders.h"
#include "server/config/XmlValues.h"
#include "server/device/VexEnc7480.h"

namespace {

// The readers take file names; every input goes through the same file.
const QString& InputFile() {
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("input.xml"));
    return path;
}

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void ReadAsServerFile(const QString& path) {
    ServerConfig config;
    config.tcpPort = 4321;
    config.pollTime = 77;
    config.windowMode = 3;
    config.bindAddress = QStringLiteral("marker");
    if (ReadServerConfig(path, config)) {
        Check(config.windowMode == ServerConfig::kWindowHidden ||
              config.windowMode == ServerConfig::kWindowShown);
    } else {
        Check(config.interfaceName.isEmpty() && config.tcpPort == 4321 && config.pollTime == 77 &&
              config.windowMode == 3 && config.bindAddress == QLatin1String("marker"));
    }
}

void ReadAsCardFile(const QString& path) {
    VexEnc7480 device;
    const bool loaded = ReadEnc7480Config(path, device);
    const Enc7480Settings& s = device.Settings();
    Check(s.triggerLogic == 0 || s.triggerLogic == 1);
    Check(s.countMode >= 0 && s.countMode <= 3);
    Check(s.indexPulseEnable == 0 || s.indexPulseEnable == 1);
    Check(s.indexPulseLevel == 0 || s.indexPulseLevel == 1);
    Check(s.triggerChannel == 1 || s.triggerChannel == 2);
    Check(s.xCountsPerMm != 0 && s.yCountsPerMm != 0 && s.zCountsPerMm != 0 &&
          s.wCountsPerTurn != 0);
    if (!loaded)
        Check(s == Enc7480Settings());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(InputFile());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            return 0;
    }
    ReadAsServerFile(InputFile());
    ReadAsCardFile(InputFile());
    // The value parsers also see raw text, as an element's content would give it.
    const QString text = QString::fromUtf8(bytes);
    (void)XmlValues::ParseInteger(text);
    (void)XmlValues::ParseReal(text);
    return 0;
}
