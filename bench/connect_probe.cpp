// The baseline of the start-up bench: a Windows program that only connects to a loopback port
// and sends one byte, linked like the launcher.
#include <cstdlib>
#include <winsock2.h>
#include <ws2tcpip.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return 3;
    }
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET ||
        connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return 4;
    }
    const char byte = 'G';
    const int sent = send(s, &byte, 1, 0);
    closesocket(s);
    WSACleanup();
    return sent == 1 ? 0 : 5;
}
