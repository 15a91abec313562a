#include "server/vmime/tls_probe.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include <cerrno>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tls_probe {

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes &out, unsigned value)
{
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

// A block preceded by its length on two bytes.
void block16(Bytes &out, const Bytes &content)
{
    put16(out, static_cast<unsigned>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
}

Bytes extension(unsigned type, const Bytes &data)
{
    Bytes out;
    put16(out, type);
    block16(out, data);
    return out;
}

Bytes list16(std::initializer_list<unsigned> values)
{
    Bytes content;
    for (const unsigned value : values)
        put16(content, value);
    Bytes out;
    block16(out, content);
    return out;
}

// What any TLS 1.2 server answers, with a ServerHello or with an alert: the
// common suites, curves and signatures. No name is sent: the answer's first
// bytes are all that is read.
Bytes client_hello()
{
    Bytes body{0x03, 0x03};
    for (int i = 0; i < 32; ++i)
        body.push_back(static_cast<unsigned char>(0x5a ^ i));
    body.push_back(0); // no session id
    const Bytes suites =
        list16({0xc02b, 0xc02f, 0xc02c, 0xc030, 0xcca9, 0xcca8, 0x009c, 0x009d, 0x002f, 0x0035});
    body.insert(body.end(), suites.begin(), suites.end());
    body.push_back(1); // compression: none
    body.push_back(0);
    Bytes extensions;
    for (const Bytes &one :
         {extension(0x000a, list16({0x001d, 0x0017, 0x0018})), extension(0x000b, Bytes{0x01, 0x00}),
          extension(0x000d,
                    list16({0x0403, 0x0804, 0x0401, 0x0503, 0x0805, 0x0501, 0x0601, 0x0201}))})
        extensions.insert(extensions.end(), one.begin(), one.end());
    block16(body, extensions);

    // Record header, then the handshake header (type 1, a length on three bytes).
    Bytes record{0x16, 0x03, 0x01};
    put16(record, static_cast<unsigned>(body.size() + 4));
    record.push_back(0x01);
    record.push_back(0);
    put16(record, static_cast<unsigned>(body.size()));
    for (const unsigned char byte : body)
        record.push_back(byte);
    return record;
}

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Steps of a wait, so that stop is asked in between.
constexpr long kStepMs = 50;

bool wait_for(int fd, short events, std::chrono::steady_clock::time_point deadline,
              const std::function<bool()> &stop)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || (stop && stop()))
            return false;
        pollfd one{fd, events, 0};
        const int ready = ::poll(&one, 1, static_cast<int>(std::min(left, kStepMs)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

bool looks_like_tls(const unsigned char *bytes, std::size_t size)
{
    // Content type alert (21) or handshake (22), then major version 3.
    return size >= 2 && (bytes[0] == 0x15 || bytes[0] == 0x16) && bytes[1] == 0x03;
}

bool expects_tls(const std::string &address, unsigned short port, int waitMs,
                 const std::function<bool()> &stop)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return false;
    const Descriptor fd(::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const bool started =
        fd.get() >= 0 &&
        (::connect(fd.get(), found->ai_addr, found->ai_addrlen) == 0 || errno == EINPROGRESS);
    ::freeaddrinfo(found);
    if (!started || !wait_for(fd.get(), POLLOUT, deadline, stop))
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return false;
    const Bytes hello = client_hello();
    if (::send(fd.get(), hello.data(), hello.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(hello.size()))
        return false;
    unsigned char answer[2] = {};
    std::size_t got = 0;
    while (got < sizeof answer && wait_for(fd.get(), POLLIN, deadline, stop)) {
        const ssize_t n = ::recv(fd.get(), answer + got, sizeof answer - got, 0);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return looks_like_tls(answer, got);
}

} // namespace tls_probe
