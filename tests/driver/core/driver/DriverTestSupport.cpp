#include "tests/driver/core/driver/DriverTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "host/CQLNapplication.h"
#include "host/HostConfig.h"
#include "host/QlnServices.h"
#include "setvault/Setvault.h"

namespace drivertest {

namespace {

QTemporaryDir* workFolder = nullptr;

std::wstring Wide(const std::string& text) {
    return QString::fromStdString(text).toStdWString();
}

}  // namespace

void SetUpHostProcess() {
    if (workFolder)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "driver_test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    workFolder = new QTemporaryDir();
    QDir::setCurrent(workFolder->path());
    qputenv("SETVAULT_INI", (workFolder->path() + "/setvault.ini").toLocal8Bit());
    qputenv("SETVAULT_ADMIN", "1");
    ResetSettings();
}

std::string WorkFolder() {
    return workFolder->path().toStdString();
}

void ResetSettings(const std::string& logPath) {
    std::remove((WorkFolder() + "/setvault.ini").c_str());
    if (logPath.empty())
        return;
    WriteRegString(L"USER_Tactus", L"DebugLog", L"TRUE", false);
    WriteRegString(L"USER_Tactus", L"DebugFile", Wide(logPath).c_str(), false);
}

void CloseDebugLog() {
    std::lock_guard<std::recursive_timed_mutex> locked(*qlnDebugOutput.lock);
    if (qlnDebugOutput.logFile) {
        std::fclose(qlnDebugOutput.logFile);
        qlnDebugOutput.logFile = nullptr;
    }
}

void ResetHost() {
    QlnConfig().reset();
    QlnConfig().echoMessageBoxes = false;
    QlnConfig().interactiveMessageBoxes = false;
    QlnRecorder().clear();
    CQLNhostInterface* iface = qlnTheApp->hostIface;
    for (CQLNmachine& record : iface->machines)
        record = CQLNmachine{};
    iface->lengthUnit = 25.4;
    iface->hitDeliveryFlag = 1;
    iface->learnModeFlag = 0;
    qlnTheApp->readoutState = 0;
}

// --- Machine file -----------------------------------------------------------------------

std::string MachineFile::Xml() const {
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TACConfigData>\n"
        << "  <Misc cmm=\"" << cmm << "\"><Data>\n"
        << "    <AxisX>" << axisX << "</AxisX><AxisY>" << axisY << "</AxisY><AxisZ>" << axisZ
        << "</AxisZ>\n"
        << "    <ReadoutButton>" << readoutButton << "</ReadoutButton>\n"
        << "    <RequestInterval>" << requestInterval << "</RequestInterval>\n"
        << "    <StartEXE>" << startExe << "</StartEXE>\n"
        << "    <Transport>" << transport << "</Transport>\n"
        << "    <AutoResetCounters>" << autoResetCounters << "</AutoResetCounters>\n"
        << "  </Data></Misc>\n"
        << "  <InitializationSequence><Data><Command>" << initCommand
        << "</Command></Data></InitializationSequence>\n"
        << "  <Commands>\n"
        << "    <TakeHit><Command>" << takeHit << "</Command></TakeHit>\n"
        << "    <GetPosition><Command>" << getPosition << "</Command></GetPosition>\n"
        << "  </Commands>\n"
        << "  <Replies>\n"
        << "    <HitReply><Reply>" << hitReply << "</Reply></HitReply>\n"
        << "    <PositionReply><Reply>" << positionReply << "</Reply></PositionReply>\n"
        << "  </Replies>\n"
        << "  <CommInfo>\n"
        << "    <TCP><CMMAddress-IP>" << address << "</CMMAddress-IP><CMMPort-IP>" << port
        << "</CMMPort-IP></TCP>\n"
        << extraCommInfo << "  </CommInfo>\n</TACConfigData>\n";
    return xml.str();
}

void MachineFile::Write() const {
    std::ofstream(WorkFolder() + "/TACConfigData.xml") << Xml();
}

void RemoveMachineFile() {
    std::remove((WorkFolder() + "/TACConfigData.xml").c_str());
}

// --- Scripted peer --------------------------------------------------------------------------

ScriptedPeer::ScriptedPeer(int port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::pipe2(wake_, O_CLOEXEC);
    answers_["POS"] = "";
    answers_["HIT"] = "";
    thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
    stop_ = true;
    (void)::write(wake_[1], "x", 1);
    thread_.join();
    if (client_ >= 0)
        ::close(client_);
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void ScriptedPeer::Answer(const std::string& request, const std::string& reply) {
    std::lock_guard<std::mutex> locked(lock_);
    answers_[request] = reply;
}

void ScriptedPeer::Send(const std::string& bytes) {
    WaitUntil([this] { return Connected(); });
    {
        std::lock_guard<std::mutex> locked(lock_);
        outbox_ += bytes;
    }
    (void)::write(wake_[1], "x", 1);
}

int ScriptedPeer::Count(const std::string& request) const {
    std::lock_guard<std::mutex> locked(lock_);
    const auto found = counts_.find(request);
    return found == counts_.end() ? 0 : found->second;
}

std::string ScriptedPeer::Received() const {
    std::lock_guard<std::mutex> locked(lock_);
    return received_;
}

// Cuts the received stream into request words; answers the ones that have a reply.
void ScriptedPeer::Consume() {
    while (consumed_ < received_.size()) {
        std::string word;
        for (const auto& [request, reply] : answers_)
            if (received_.compare(consumed_, request.size(), request) == 0 &&
                request.size() > word.size())
                word = request;
        if (word.empty()) {
            ++consumed_;
            continue;
        }
        consumed_ += word.size();
        ++counts_[word];
        outbox_ += answers_[word];
    }
}

void ScriptedPeer::Run() {
    while (!stop_) {
        pollfd fds[3] = {{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}, {client_, POLLIN, 0}};
        ::poll(fds, client_ >= 0 ? 3 : 2, 50);
        if (fds[0].revents & POLLIN) {
            char drain[64];
            (void)::read(wake_[0], drain, sizeof drain);
        }
        if (fds[1].revents & POLLIN) {
            const int accepted = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                if (client_ >= 0)
                    ::close(client_);
                client_ = accepted;
                clientClosed_ = false;
                connected_ = true;
            }
        }
        if (client_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP))) {
            char buffer[4096];
            const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                ::close(client_);
                client_ = -1;
                connected_ = false;
                clientClosed_ = true;
            } else {
                std::lock_guard<std::mutex> locked(lock_);
                received_.append(buffer, static_cast<size_t>(n));
                Consume();
            }
        }
        std::string out;
        {
            std::lock_guard<std::mutex> locked(lock_);
            if (client_ >= 0)
                out.swap(outbox_);
        }
        if (!out.empty())
            (void)::send(client_, out.data(), out.size(), MSG_NOSIGNAL);
    }
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// --- Waiting and reading ----------------------------------------------------------------------

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

void Idle(int ms) {
    QTest::qWait(ms);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

LogMark::LogMark(std::string path, bool fromStart)
    : path_(std::move(path)), offset_(fromStart ? 0 : ReadFile(path_).size()) {}

std::string LogMark::Text() const {
    // A mark taken before any log file was open covers the whole file opened since.
    const std::string all = ReadFile(path_.empty() ? CurrentLogPath() : path_);
    return offset_ <= all.size() ? all.substr(offset_) : all;
}

std::string CurrentLogPath() {
    std::lock_guard<std::recursive_timed_mutex> locked(*qlnDebugOutput.lock);
    return QString::fromStdWString(qlnDebugOutput.logFileName).toStdString();
}

std::vector<HostEvent> Events(HostEventKind kind) {
    return QlnRecorder().eventsOf(kind);
}

}  // namespace drivertest
