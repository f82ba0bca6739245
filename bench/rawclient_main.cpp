// bench-rawclient: the round-trip series of the plain blocking client. It writes the stripe,
// then times `count` buffer clears and `count` magnetic reads, each from the first byte of the
// command frame to the ACK of the response, and prints one JSON line:
//   {"client":"raw","clear":[us...],"read":[us...],"failures":N}

#include "BlockingWireClient.h"
#include "protocol/Protocol.h"

#include <chrono>
#include <sys/socket.h>
#include <sys/time.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t kBufferClear = DeviceCommand::BufferClear;
constexpr std::uint8_t kMagneticRead = DeviceCommand::MagneticRead;
constexpr std::uint8_t kMagneticData = DeviceCommand::MagneticData;
constexpr std::uint8_t kMagneticWrite = DeviceCommand::MagneticWrite;
constexpr std::uint8_t kNormal = DeviceStatus::Normal;

struct Options
{
    std::string host = "127.0.0.1";
    int port = 0;
    int count = 2000;
    int warmup = 100;
    std::string stripe;
};

[[noreturn]] void usage(const char *why)
{
    std::fprintf(stderr, "bench-rawclient: %s\n"
                         "usage: bench-rawclient --port P [--host H] [--count N] [--warmup N] --stripe TEXT\n",
                 why);
    std::exit(2);
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            usage(("missing value for " + arg).c_str());
        const char *value = argv[++i];
        if (arg == "--host")
            o.host = value;
        else if (arg == "--port")
            o.port = std::atoi(value);
        else if (arg == "--count")
            o.count = std::atoi(value);
        else if (arg == "--warmup")
            o.warmup = std::atoi(value);
        else if (arg == "--stripe")
            o.stripe = value;
        else
            usage(("unknown option " + arg).c_str());
    }
    if (o.port <= 0 || o.port > 65535)
        usage("--port is required");
    if (o.count < 1 || o.warmup < 0)
        usage("--count must be at least 1");
    return o;
}

void printSeries(const char *name, const std::vector<double> &samples)
{
    std::printf("\"%s\":[", name);
    for (std::size_t i = 0; i < samples.size(); ++i)
        std::printf(i ? ",%.3f" : "%.3f", samples[i]);
    std::printf("]");
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parse(argc, argv);
    std::string error;
    const int fd = BlockingWireClient::connectTcp(options.host, std::uint16_t(options.port), error);
    if (fd < 0) {
        std::fprintf(stderr, "bench-rawclient: %s\n", error.c_str());
        return 1;
    }
    // A device that stops answering ends the run with an error instead of hanging it.
    const timeval limit{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    BlockingWireClient client(fd);

    auto ok = [](const BlockingWireClient::Result &r) {
        return r.outcome == BlockingWireClient::Outcome::Ok && r.status == kNormal;
    };
    if (!ok(client.command(kMagneticData, options.stripe)) || !ok(client.command(kMagneticWrite, "2"))) {
        std::fprintf(stderr, "bench-rawclient: writing the stripe failed\n");
        return 1;
    }

    int failures = 0;
    for (int i = 0; i < options.warmup; ++i)
        failures += ok(client.command(i % 2 ? kMagneticRead : kBufferClear, {})) ? 0 : 1;

    using Clock = std::chrono::steady_clock;
    auto timeSeries = [&](std::uint8_t code, bool expectStripe) {
        std::vector<double> samples;
        samples.reserve(std::size_t(options.count));
        for (int i = 0; i < options.count; ++i) {
            const auto start = Clock::now();
            const BlockingWireClient::Result r = client.command(code, {});
            const auto end = Clock::now();
            samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
            if (!ok(r) || (expectStripe && r.data != options.stripe))
                ++failures;
        }
        return samples;
    };
    const std::vector<double> clear = timeSeries(kBufferClear, false);
    const std::vector<double> read = timeSeries(kMagneticRead, true);

    std::printf("{\"client\":\"raw\",");
    printSeries("clear", clear);
    std::printf(",");
    printSeries("read", read);
    std::printf(",\"failures\":%d}\n", failures);
    return 0;
}
