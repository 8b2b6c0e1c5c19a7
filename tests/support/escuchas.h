// Network stand-ins for a server that misbehaves: a port that takes connections and never answers, and
// a slow way to a real server.
#pragma once

#include <QtGlobal>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace v7::test {

// A socket listening on 127.0.0.1 that never accepts: the kernel completes every connection, and
// nothing is ever said on it. Given a port, it takes that port (a server started there then fails).
class EscuchaMuda {
public:
    explicit EscuchaMuda(int puerto = 0) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int uno = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &uno, sizeof uno);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(quint16(puerto));
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << "port " << puerto;
        EXPECT_EQ(::listen(m_fd, 64), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_puerto = ntohs(a.sin_port);
    }
    ~EscuchaMuda() { ::close(m_fd); }
    EscuchaMuda(const EscuchaMuda&) = delete;
    EscuchaMuda& operator=(const EscuchaMuda&) = delete;

    int puerto() const { return m_puerto; }

private:
    int m_fd = -1;
    int m_puerto = 0;
};

// A port on 127.0.0.1 that passes each connection on to a real server, but only demoraMs after it came:
// a connection that is slow to open and then works. Served by a thread of its own.
class ProxyLento {
public:
    ProxyLento(int destino, int demoraMs) : m_destino(destino), m_demora(demoraMs) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = local(0);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(m_fd, 16), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_puerto = ntohs(a.sin_port);
        m_hilo = std::thread([this] { servir(); });
    }
    ~ProxyLento() {
        m_fin = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_hilo.join();
        ::close(m_fd);
    }
    ProxyLento(const ProxyLento&) = delete;
    ProxyLento& operator=(const ProxyLento&) = delete;

    int puerto() const { return m_puerto; }

private:
    static sockaddr_in local(int puerto) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(quint16(puerto));
        return a;
    }

    void servir() {
        while (!m_fin) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            const int cliente = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (cliente < 0) {
                continue;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(m_demora));
            const int servidor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a = local(m_destino);
            if (::connect(servidor, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                pasar(cliente, servidor);
            }
            ::close(servidor);
            ::close(cliente);
        }
    }

    // Both ways until either side closes (one connection at a time is all the tests need).
    void pasar(int x, int y) {
        char buf[16384];
        while (!m_fin) {
            pollfd p[2] = {{x, POLLIN, 0}, {y, POLLIN, 0}};
            if (::poll(p, 2, 50) < 0) {
                return;
            }
            for (int i = 0; i < 2; ++i) {
                if (p[i].revents == 0) {
                    continue;
                }
                const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                if (n <= 0 || ::write(i == 0 ? y : x, buf, size_t(n)) != n) {
                    return;
                }
            }
        }
    }

    int m_fd = -1;
    int m_puerto = 0;
    int m_destino;
    int m_demora;
    std::atomic<bool> m_fin{false};
    std::thread m_hilo;
};

} // namespace v7::test
