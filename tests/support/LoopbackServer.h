// A small TCP server on 127.0.0.1 for tests: any number of listening ports served by one
// thread with epoll. Each accepted connection runs the server's behaviour on the bytes it
// receives. Stops and joins in its destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qz::test {

class LoopbackServer {
public:
    // What a connection does with what it receives. Return the bytes to send back; set
    // close = true to close the connection after sending.
    using Behaviour = std::function<std::string(size_t connectionIndex, const std::string& received,
                                                bool& close)>;
    // Bytes sent as soon as a connection is accepted (may be empty).
    using Greeting = std::function<std::string(size_t connectionIndex)>;

    explicit LoopbackServer(Behaviour behaviour, size_t ports = 1, Greeting greeting = nullptr);
    ~LoopbackServer();

    uint16_t Port(size_t i = 0) const { return ports_.at(i); }
    size_t Accepted() const { return accepted_.load(); }
    size_t Closed() const { return closed_.load(); } // connections the peer closed
    std::string Received() const;                    // everything received, in order

    static Behaviour Echo();
    static Behaviour Silent();

private:
    void Run();

    Behaviour behaviour_;
    Greeting greeting_;
    std::vector<int> listeners_;
    std::vector<uint16_t> ports_;
    int epoll_ = -1;
    int wake_ = -1;
    std::atomic<size_t> accepted_{0};
    std::atomic<size_t> closed_{0};
    mutable std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

} // namespace qz::test
