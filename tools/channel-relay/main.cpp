// corvantle-channel-relay: one direction of a simulated radio channel between two engines.
//
// Usage: corvantle-channel-relay IN OUT N LOG [BYTES_PER_SECOND]
//
// Copies the raw audio that one engine transmits (read from the FIFO IN) to the FIFO OUT that the other
// engine receives from, and silences every Nth transmission (0: none), which is how a frame lost on the air
// looks to the receiver. A transmission is a burst of audio that is not silence: it ends at 50 ms of zero
// samples or when the transmitter has written nothing for 50 ms (an engine transmitting into a file writes
// only while it keys up).
//
// With BYTES_PER_SECOND (the engines' sample rate times two bytes a sample) the audio plays out at that
// rate, as on the air: an engine writes its whole transmission into the file at once, far faster than real
// time, and a receiver fed at that speed hears a 6-second transmission in a fraction of a second and answers
// long before a radio could have. Paced, the receiver's carrier detect stays on for the transmission's real
// air time, so an engine that waits for a clear channel waits as long as it would on a radio. Without it
// (or with 0) the audio passes as fast as it comes. Paced, the receiver also hears silence between
// transmissions, all the time, as from a radio.
//
// Each transmission is one line in LOG: its number, whether it passed or was dropped, its size, when it
// started (milliseconds since the relay started) and how long its audio took to arrive (including the quiet
// time that ends it), so that the log can be laid beside the engines' own.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSilentBytes = 44100 * 2 / 20; // 50 ms of 16-bit samples at 44100/s
constexpr int kQuietMilliseconds = 50;
constexpr int kPlayStepMilliseconds = 10; // a paced channel writes its audio in steps this long

long long millisecondsSinceStart() {
    using namespace std::chrono;
    static const Clock::time_point start = Clock::now();
    return duration_cast<milliseconds>(Clock::now() - start).count();
}

void writeAll(int out, const char *bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(out, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            std::perror("corvantle-channel-relay: write");
            std::exit(1);
        }
        done += static_cast<std::size_t>(n);
    }
}

// The receiver's side: audio written at once, or played out at the channel's rate. Played out, the receiver
// hears silence between transmissions, as a radio's receiver gives its squelched audio without a break:
// its carrier detect and everything it times follow the audio clock rather than the arrival of the next
// transmission.
class Player {
  public:
    Player(int out, long bytesPerSecond) : out_(out), bytesPerSecond_(bytesPerSecond) {}

    void add(const std::vector<char> &bytes) {
        if (bytesPerSecond_ <= 0)
            return writeAll(out_, bytes.data(), bytes.size());
        queued_.insert(queued_.end(), bytes.begin(), bytes.end());
        play();
    }

    // Writes what is due by now: what is queued, then silence.
    void play() {
        if (bytesPerSecond_ <= 0)
            return;
        const auto elapsed = std::chrono::duration<double>(Clock::now() - startedAt_).count();
        const auto due = static_cast<long long>(elapsed * static_cast<double>(bytesPerSecond_)) & ~1LL;
        if (due <= played_)
            return;
        const auto count = static_cast<std::size_t>(due - played_);
        std::vector<char> chunk(count, 0);
        const std::size_t audio = std::min(count, queued_.size());
        std::copy_n(queued_.begin(), audio, chunk.begin());
        queued_.erase(queued_.begin(), queued_.begin() + static_cast<long>(audio));
        played_ = due;
        writeAll(out_, chunk.data(), chunk.size());
    }

    // How long the relay may wait for input: `idleWait` when nothing is to be played.
    int wait(int idleWait) const {
        return bytesPerSecond_ <= 0 ? idleWait : std::min(idleWait, kPlayStepMilliseconds);
    }

  private:
    int out_;
    long bytesPerSecond_;
    std::deque<char> queued_;
    Clock::time_point startedAt_ = Clock::now();
    long long played_ = 0; // since startedAt_
};

class Relay {
  public:
    Relay(Player &player, unsigned dropEvery, std::FILE *log)
        : player_(player), dropEvery_(dropEvery), log_(log) {}

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
        player_.add(bytes);
    }

    // The transmitter has written nothing for a while. A receiver fed from a FIFO hears nothing at all after
    // a transmission, and its carrier detect stays on as if the last flags went on for ever, which holds
    // back everything it times by a free channel (Dire Wolf pauses T1 while the channel is busy). A real
    // receiver hears the carrier drop: give it that silence.
    void quiet() {
        if (!inBurst_)
            return;
        end("pause");
        player_.add(std::vector<char>(kSilentBytes, 0));
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

    Player &player_;
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
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s IN OUT N LOG [BYTES_PER_SECOND]\n",
                     argc > 0 ? argv[0] : "corvantle-channel-relay");
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
    Player player(out, argc == 6 ? std::strtol(argv[5], nullptr, 10) : 0);
    Relay relay(player, static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)), log);
    std::vector<char> bytes;
    auto lastInput = Clock::now();
    for (;;) {
        pollfd readable{in, POLLIN, 0};
        const int ready = ::poll(&readable, 1, player.wait(kQuietMilliseconds));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            player.play();
            if (Clock::now() - lastInput >= std::chrono::milliseconds(kQuietMilliseconds))
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
        lastInput = Clock::now();
        bytes.resize(static_cast<std::size_t>(n));
        relay.pass(bytes);
        player.play();
    }
}
