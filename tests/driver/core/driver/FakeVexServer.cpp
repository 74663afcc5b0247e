// A stand-in position server for the driver's start-up tests, started by the driver from the
// machine file's StartEXE:
//
//   tactus_fake_vexserver PORT DELAY_MS RECORD_FILE [more arguments...]
//
// It writes its process id and every argument (one per line) to RECORD_FILE, waits DELAY_MS
// before it listens on 127.0.0.1:PORT (a server that is slow to come up), then serves one
// client at a time: a greeting, and an answer to every "POS" and "HIT". It runs until it is
// killed or a client sends "EXI". With a fourth argument "flood" (or "flood-distinct") it
// sends its client, after the greeting, position lines as fast as they are taken instead
// (x 1.5, or counting 1 to 1000 over and over), reading and forgetting what it is sent, and
// adds "sent BYTES" to RECORD_FILE after every megabyte.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

void SendText(int fd, const std::string& text) {
    (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return 2;
    const int port = std::atoi(argv[1]);
    const int delayMs = std::atoi(argv[2]);
    {
        std::ofstream record(argv[3]);
        record << ::getpid() << '\n';
        for (int i = 1; i < argc; ++i)
            record << argv[i] << '\n';
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0) {
        std::perror("tactus_fake_vexserver");
        return 1;
    }
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;
        SendText(client, "( VEXVersion:20 ) 240\r\n");
        const std::string mode = argc > 4 ? argv[4] : "";
        std::string block;
        char line[96];
        for (int i = 1; mode.rfind("flood", 0) == 0 && block.size() < 64 * 1024; ++i) {
            std::snprintf(line, sizeof line, "( %f 2.500000 3.500000 0.000000 ) 235\r\n",
                          mode == "flood-distinct" ? i % 1000 + 1.0 : 1.5);
            block += line;
        }
        char discard[4096];
        for (long long blocks = 1;
             !block.empty() && ::send(client, block.data(), block.size(), MSG_NOSIGNAL) > 0;
             ++blocks) {
            while (::recv(client, discard, sizeof discard, MSG_DONTWAIT) > 0) {
            }
            if (blocks % 16 == 0)  // a short send is rare and only makes the count high
                std::ofstream(argv[3], std::ios::app) << "sent " << blocks * block.size() << '\n';
        }
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            const std::string request(buffer, static_cast<size_t>(n));
            if (request == "POS")
                SendText(client, "( 10.000000 20.000000 30.000000 0.000000 ) 235\r\n");
            else if (request == "HIT")
                SendText(client,
                         "( 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 ) "
                         "237\r\n");
            else if (request == "EXI")
                return 0;
        }
        ::close(client);
    }
}
