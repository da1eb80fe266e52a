// A full ReadZRN through the real PC/SC stack (pcscd, the vpcd driver and
// zrn-virtual-card serving the largest extended card), timed beside a bare host that
// sends the very same commands with SCardTransmit alone. The ratio of the two
// wall times is what the library adds on top of the stack.
//
//   zrn-bench-real-stack --write-image card.json   writes the card to serve
//   zrn-bench-real-stack [--reader TEXT] [--runs N] [--wait SECONDS]
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_cards.h"
#include "channel/card_channel.h"
#include "channel/transport.h"
#include "sim/card_image.h"
#include "zrn.h"

namespace {

constexpr double kRatioTarget = 1.05;
constexpr DWORD kReceiveBufferSize = 260;

// The library's commands of one ReadZRN, kept while recording is on.
struct Recording {
    bool on = false;
    std::vector<zrn::Bytes> commands;
    std::vector<DWORD> answerLengths;
};

Recording& recording() {
    static Recording instance;
    return instance;
}

}  // namespace

namespace {

// The library's own PC/SC exchange, with a recorder that costs one test when off.
class RecordingPcscTransport : public zrn::channel::PcscTransport {
  public:
    long transmit(zrn::CardHandle handle, zrn::ByteView command, std::uint8_t* response,
                  std::uint32_t& responseLength) override {
        const long rv = PcscTransport::transmit(handle, command, response, responseLength);
        Recording& r = recording();
        if (r.on && rv == 0) {
            r.commands.emplace_back(command.begin(), command.end());
            r.answerLengths.push_back(responseLength);
        }
        return rv;
    }
};

}  // namespace

namespace {

struct Options {
    std::string imagePath;  // --write-image
    std::string reader = "Virtual PCD";
    int runs = 20;
    double waitSeconds = 10;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--write-image" && hasValue) {
            options.imagePath = argv[++i];
        } else if (arg == "--reader" && hasValue) {
            options.reader = argv[++i];
        } else if (arg == "--runs" && hasValue) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--wait" && hasValue) {
            options.waitSeconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: %s --write-image FILE | [--reader TEXT] [--runs N] [--wait S]\n",
                         argv[0]);
            return false;
        }
    }
    return true;
}

bool failed(const char* what, LONG rv) {
    std::fprintf(stderr, "zrn-bench-real-stack: %s: %s (0x%08lX)\n", what, pcsc_stringify_error(rv),
                 static_cast<unsigned long>(rv));
    return false;
}

// The first reader whose name contains `wanted`, once it holds a card.
bool findReaderWithCard(SCARDCONTEXT context, const Options& options, std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(options.waitSeconds * 1e3));
    LONG rv = SCARD_S_SUCCESS;
    do {
        DWORD length = 0;
        rv = SCardListReaders(context, nullptr, nullptr, &length);
        if (rv == SCARD_S_SUCCESS) {
            std::string names(length, '\0');
            rv = SCardListReaders(context, nullptr, names.data(), &length);
            for (const char* p = names.c_str(); rv == SCARD_S_SUCCESS && *p != '\0';
                 p += std::strlen(p) + 1) {
                if (std::strstr(p, options.reader.c_str()) == nullptr) {
                    continue;
                }
                SCARD_READERSTATE state{};
                state.szReader = p;
                state.dwCurrentState = SCARD_STATE_UNAWARE;
                if (SCardGetStatusChange(context, 0, &state, 1) == SCARD_S_SUCCESS &&
                    (state.dwEventState & SCARD_STATE_PRESENT) != 0) {
                    name = p;
                    return true;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < deadline);
    std::fprintf(stderr, "zrn-bench-real-stack: no reader named like \"%s\" with a card (%s)\n",
                 options.reader.c_str(), pcsc_stringify_error(rv));
    return false;
}

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One ReadZRN of the library; the result code, 0 on success.
std::int32_t readPhonebook(std::vector<std::uint8_t>& buffer, double& seconds) {
    std::int32_t count = 0;
    std::int32_t length = 0;
    const auto start = Clock::now();
    const std::int32_t result = ReadZRN(&count, &length, buffer.data());
    seconds = secondsSince(start);
    return result;
}

// The same commands without the library: SCardTransmit alone.
bool replayBare(SCARDHANDLE card, const Recording& r, double& seconds) {
    std::uint8_t response[kReceiveBufferSize];
    const auto start = Clock::now();
    for (std::size_t i = 0; i < r.commands.size(); ++i) {
        DWORD received = kReceiveBufferSize;
        const LONG rv =
            SCardTransmit(card, SCARD_PCI_T0, r.commands[i].data(),
                          static_cast<DWORD>(r.commands[i].size()), nullptr, response, &received);
        if (rv != SCARD_S_SUCCESS || received != r.answerLengths[i]) {
            return failed("the bare replay got another answer", rv);
        }
    }
    seconds = secondsSince(start);
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double minimum(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

int compare(SCARDHANDLE card, const Options& options) {
    if (const std::int32_t connected = ConnectReader(card); connected != 0) {
        std::fprintf(stderr, "zrn-bench-real-stack: ConnectReader answered %d\n", connected);
        return 1;
    }
    std::vector<std::uint8_t> buffer(ZRN_PHONEBOOK_BUFFER_SIZE);
    Recording& r = recording();
    double seconds = 0;
    r.on = true;
    const std::int32_t recorded = readPhonebook(buffer, seconds);
    r.on = false;
    if (recorded != 0) {
        std::fprintf(stderr, "zrn-bench-real-stack: ReadZRN answered %d\n", recorded);
        return 1;
    }

    // Interleaved in pairs, the order swapped from pair to pair, so that
    // drift in the stack's speed and the cost of going first touch both alike.
    std::vector<double> library;
    std::vector<double> bare;
    std::vector<double> pairRatios;
    for (int run = -1; run < options.runs; ++run) {  // run -1 warms both up
        double libraryTime = 0;
        double bareTime = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (run % 2 == 0)) {
                if (readPhonebook(buffer, libraryTime) != 0) {
                    std::fprintf(stderr, "zrn-bench-real-stack: a timed ReadZRN failed\n");
                    return 1;
                }
            } else if (!replayBare(card, r, bareTime)) {
                return 1;
            }
        }
        if (run >= 0) {
            library.push_back(libraryTime);
            bare.push_back(bareTime);
            pairRatios.push_back(libraryTime / bareTime);
        }
    }

    const double ratio = median(pairRatios);
    std::printf(
        "\n| Full ReadZRN, largest extended card | Commands | Runs | Median | Best |\n"
        "|---|---:|---:|---:|---:|\n"
        "| zrn library | %zu | %d | %.2f ms | %.2f ms |\n"
        "| bare SCardTransmit | %zu | %d | %.2f ms | %.2f ms |\n"
        "\nLibrary : bare = %.3f (median of the %d pairs), %.3f (medians), %.3f (bests); "
        "within %.2f: %s\n",
        r.commands.size(), options.runs, median(library) * 1e3, minimum(library) * 1e3,
        r.commands.size(), options.runs, median(bare) * 1e3, minimum(bare) * 1e3, ratio,
        options.runs, median(library) / median(bare), minimum(library) / minimum(bare),
        kRatioTarget, ratio <= kRatioTarget ? "yes" : "NO");
    return 0;
}

int run(const Options& options) {
    SCARDCONTEXT context = 0;
    LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    if (rv != SCARD_S_SUCCESS) {
        failed("SCardEstablishContext", rv);
        return 1;
    }
    int status = 1;
    std::string reader;
    if (findReaderWithCard(context, options, reader)) {
        SCARDHANDLE card = 0;
        DWORD protocol = 0;
        rv = SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card,
                          &protocol);
        if (rv == SCARD_S_SUCCESS) {
            std::printf("Reader: %s\n", reader.c_str());
            status = compare(card, options);
            SCardDisconnect(card, SCARD_LEAVE_CARD);
        } else {
            failed("SCardConnect", rv);
        }
    }
    SCardReleaseContext(context);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        return 2;
    }
    if (!options.imagePath.empty()) {
        try {
            const auto card = zrn::bench::buildLargestExtendedCard(zrn::bench::CardSize::kFull);
            zrn::sim::saveImage(card.image, options.imagePath);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zrn-bench-real-stack: %s\n", e.what());
            return 1;
        }
        return 0;
    }
    RecordingPcscTransport transport;
    zrn::channel::ScopedTransport onPcsc(zrn::channel::cardChannel(), transport);
    return run(options);
}
