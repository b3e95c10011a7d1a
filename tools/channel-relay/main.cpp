// corvantle-channel-relay: one direction of a simulated radio channel with losses.
//
// Usage: corvantle-channel-relay IN OUT N LOG
//
// Copies the raw audio that one engine transmits (read from the FIFO IN) to the FIFO OUT that the other
// engine receives from, and silences every Nth transmission (0: none), which is how a frame lost on the air
// looks to the receiver. A transmission is a burst of audio that is not silence: it ends at 50 ms of zero
// samples or when the transmitter has written nothing for 50 ms (an engine transmitting into a file writes
// only while it keys up). Each transmission is one line in LOG: its number, whether it passed or was dropped,
// its size, when it started (milliseconds since the relay started) and how long its audio took to arrive
// (including the quiet time that ends it), so that the log can be laid beside the engines' own.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kSilentBytes = 44100 * 2 / 20; // 50 ms of 16-bit samples at 44100/s
constexpr int kQuietMilliseconds = 50;

long long millisecondsSinceStart() {
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

class Relay {
  public:
    Relay(int out, unsigned dropEvery, std::FILE *log) : out_(out), dropEvery_(dropEvery), log_(log) {}

    void pass(std::vector<char> &bytes) {
        std::size_t i = 0;
        while (i < bytes.size()) {
            if (!inBurst_) {
                const auto loud = std::find_if(bytes.begin() + static_cast<long>(i), bytes.end(),
                                               [](char c) { return c != 0; });
                i = static_cast<std::size_t>(loud - bytes.begin());
                if (i == bytes.size())
                    break;
                begin();
            }
            // The burst goes on up to the first run of silence long enough to end it.
            std::size_t j = i;
            for (; j < bytes.size() && zeros_ < kSilentBytes; ++j) {
                zeros_ = bytes[j] == 0 ? zeros_ + 1 : 0;
                if (dropping_)
                    bytes[j] = 0;
            }
            size_ += j - i;
            i = j;
            if (zeros_ >= kSilentBytes)
                end("silence");
        }
        write(bytes);
    }

    // The transmitter has written nothing for a while. A receiver fed from a FIFO hears nothing at all after
    // a transmission, and its carrier detect stays on as if the last flags went on for ever, which holds
    // back everything it times by a free channel (Dire Wolf pauses T1 while the channel is busy). A real
    // receiver hears the carrier drop: give it that silence.
    void quiet() {
        if (!inBurst_)
            return;
        end("pause");
        write(std::vector<char>(kSilentBytes, 0));
    }

  private:
    void begin() {
        inBurst_ = true;
        ++count_;
        dropping_ = dropEvery_ > 0 && count_ % dropEvery_ == 0;
        zeros_ = 0;
        size_ = 0;
        startedAt_ = millisecondsSinceStart();
    }
    void end(const char *how) {
        std::fprintf(log_, "transmission %u %s %zu bytes at %lld ms, arriving over %lld ms, ended by %s\n",
                     count_, dropping_ ? "dropped" : "passed", size_, startedAt_,
                     millisecondsSinceStart() - startedAt_, how);
        std::fflush(log_);
        inBurst_ = false;
        dropping_ = false;
    }
    void write(const std::vector<char> &bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(out_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                std::perror("corvantle-channel-relay: write");
                std::exit(1);
            }
            done += static_cast<std::size_t>(n);
        }
    }

    int out_;
    unsigned dropEvery_;
    std::FILE *log_;
    bool inBurst_ = false;
    bool dropping_ = false;
    unsigned count_ = 0;
    std::size_t zeros_ = 0;
    std::size_t size_ = 0;
    long long startedAt_ = 0;
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s IN OUT N LOG\n", argc > 0 ? argv[0] : "corvantle-channel-relay");
        return 2;
    }
    // Both FIFOs read-write: neither open waits for the other end, and the input never reaches end of file
    // when the transmitting engine restarts.
    const int in = ::open(argv[1], O_RDWR);
    const int out = ::open(argv[2], O_RDWR);
    std::FILE *log = std::fopen(argv[4], "a");
    if (in < 0 || out < 0 || !log) {
        std::perror("corvantle-channel-relay: open");
        return 1;
    }
    millisecondsSinceStart();
    Relay relay(out, static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)), log);
    std::vector<char> bytes;
    for (;;) {
        pollfd readable{in, POLLIN, 0};
        const int ready = ::poll(&readable, 1, kQuietMilliseconds);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            relay.quiet();
            continue;
        }
        bytes.resize(65536);
        const ssize_t n = ::read(in, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::perror("corvantle-channel-relay: read");
            return 1;
        }
        bytes.resize(static_cast<std::size_t>(n));
        relay.pass(bytes);
    }
}
