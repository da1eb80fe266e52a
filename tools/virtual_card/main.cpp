// zrn-virtual-card: puts a card image into the vpcd virtual reader of pcscd, so that
// any PC/SC host (and libzrn.so through it) can talk to a simulated SIM.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "sim/card_image.h"
#include "sim/sim_card.h"
#include "tools/virtual_card/card_server.h"
#include "tools/virtual_card/vpcd_link.h"

namespace {

volatile sig_atomic_t gStopRequested = 0;

extern "C" void requestStop(int /*signal*/) {
    gStopRequested = 1;
}

struct Options {
    std::string image;
    std::string host = "127.0.0.1";
    std::uint16_t port = 35963;
    bool save = false;
    std::string saveAs;
    std::string log;
    double wait = 5.0;
};

// SIGTERM and SIGINT stay blocked except while waiting for the driver, so
// that the stop flag is only ever seen at a wait and never lost between two.
sigset_t blockStopSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stop, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    return waitMask;
}

// Written next to the target first, so that a reader never sees half an image.
void saveImageSafely(const zrn::sim::CardImage& image, const std::string& path) {
    const std::string temporary = path + ".tmp";
    zrn::sim::saveImage(image, temporary);
    std::filesystem::rename(temporary, path);
}

std::string endReason(zrn::virtual_card::VpcdLink::Receive how) {
    return how == zrn::virtual_card::VpcdLink::Receive::kClosed ? "the driver closed the connection"
                                                         : "stopped by a signal";
}

int serve(const Options& options) {
    const sigset_t waitMask = blockStopSignals();
    zrn::sim::SimCard card(zrn::sim::loadImage(options.image));

    std::unique_ptr<std::ofstream> log;
    if (!options.log.empty()) {
        log = std::make_unique<std::ofstream>(options.log, std::ios::trunc);
        if (!*log) {
            throw std::runtime_error("cannot write the APDU log " + options.log);
        }
        *log << "# zrn-virtual-card " << options.image << std::endl;
    }
    zrn::virtual_card::CardServer server(card, zrn::virtual_card::servedAtr(card.image()), log.get());

    const auto patience = std::chrono::milliseconds(static_cast<long>(options.wait * 1000.0));
    auto how = zrn::virtual_card::VpcdLink::Receive::kInterrupted;
    std::string failure;
    try {
        auto link = zrn::virtual_card::VpcdLink::connectTo(options.host, options.port, patience, waitMask,
                                                    gStopRequested);
        std::cerr << "zrn-virtual-card: card inserted into the vpcd reader at " << options.host << ':'
                  << options.port << std::endl;
        zrn::Bytes message;
        while (!gStopRequested &&
               (how = link.receive(message)) == zrn::virtual_card::VpcdLink::Receive::kMessage) {
            if (auto answer = server.handle(message)) {
                link.send(*answer);
            }
        }
    } catch (const std::exception& e) {
        if (!gStopRequested) {
            failure = e.what();
        }
    }

    const std::string savePath = !options.saveAs.empty() ? options.saveAs
                                 : options.save          ? options.image
                                                         : std::string();
    if (!savePath.empty()) {
        saveImageSafely(card.image(), savePath);
    }
    if (!failure.empty()) {
        std::cerr << "zrn-virtual-card: " << failure << std::endl;
        return 1;
    }
    std::cerr << "zrn-virtual-card: " << endReason(how) << " after " << server.commandsAnswered()
              << " commands" << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Serves a card image to the vpcd virtual reader of pcscd."};
    Options options;
    app.add_option("image", options.image, "card image (JSON)")
        ->required()
        ->check(CLI::ExistingFile);
    app.add_option("--host", options.host, "where the vpcd driver listens")->capture_default_str();
    app.add_option("--port", options.port, "the vpcd driver's port (the reader's CHANNELID)")
        ->capture_default_str();
    app.add_flag("--save", options.save, "write the card back into the image file on exit");
    app.add_option("--save-as", options.saveAs, "write the card into this file on exit instead");
    app.add_option("--log", options.log, "write every command and answer to this file");
    app.add_option("--wait", options.wait, "seconds to wait for the driver to listen")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 3600.0));
    CLI11_PARSE(app, argc, argv);

    try {
        return serve(options);
    } catch (const std::exception& e) {
        std::cerr << "zrn-virtual-card: " << e.what() << std::endl;
        return 1;
    }
}
