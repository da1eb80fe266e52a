#include "tests/integration/pcsc_stack.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "sim/card_image.h"

namespace zrn::integration {

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr const char* kSystemSocket = "/run/pcscd/pcscd.comm";
constexpr const char* kReaderName = "ZRN Test PCD";

std::string firstExisting(std::initializer_list<const char*> candidates) {
    for (const char* c : candidates) {
        if (access(c, X_OK) == 0 || (access(c, R_OK) == 0 && fs::is_regular_file(c))) {
            return c;
        }
    }
    return {};
}

std::string pcscHex(LONG rv) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(rv));
    return std::string(pcsc_stringify_error(rv)) + " (" + text + ")";
}

bool portIsFree(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return free;
}

// vpcd listens on the configured port and the next one (its two slots).
int pickPortPair() {
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(36000, 59000);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = pick(random);
        if (portIsFree(port) && portIsFree(port + 1)) {
            return port;
        }
    }
    throw StackUnavailable("no two free consecutive TCP ports for the vpcd reader");
}

bool socketAnswers(const char* path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    const bool answers = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

std::string makeTemporaryDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/zrn-pcsc-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw StackUnavailable("cannot make a temporary directory: " +
                               std::string(std::strerror(errno)));
    }
    return pattern;
}

bool writeAll(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// Everything the child needs to put a private directory over /run/pcscd,
// prepared before fork so that the child only makes system calls.
struct PrivateRun {
    std::string directory;
    std::string uidMap;
    std::string gidMap;

    const char* enter() const {
        if (unshare(CLONE_NEWNS) != 0) {
            if (errno != EPERM) {
                return "unshare(CLONE_NEWNS)";
            }
            // Without the right to, a user namespace of its own gives it.
            if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
                return "unshare(CLONE_NEWUSER | CLONE_NEWNS)";
            }
            if (!writeAll("/proc/self/setgroups", "deny") ||
                !writeAll("/proc/self/uid_map", uidMap) ||
                !writeAll("/proc/self/gid_map", gidMap)) {
                return "mapping the user namespace";
            }
        }
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return "making the mounts private";
        }
        mkdir("/run/pcscd", 0755);
        if (mount(directory.c_str(), "/run/pcscd", nullptr, MS_BIND, nullptr) != 0) {
            return "bind-mounting over /run/pcscd";
        }
        return "";
    }
};

}  // namespace

PcscStack::PcscStack(std::string virtualCardPath) : virtualCardPath_(std::move(virtualCardPath)) {
    dir_ = makeTemporaryDirectory();
    try {
        startDaemon();
        awaitDaemon();
        findReader();
    } catch (...) {
        if (haveContext_) {
            SCardReleaseContext(context_);
        }
        pcscd_.reset();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
        throw;
    }
}

PcscStack::~PcscStack() {
    if (connected_) {
        SCardDisconnect(card_, SCARD_LEAVE_CARD);
    }
    virtualCard_.reset();
    if (haveContext_) {
        SCardReleaseContext(context_);
    }
    pcscd_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string PcscStack::describe() const {
    return "pcscd " + mode_ + ", vpcd reader \"" + reader_ + "\" on port " + std::to_string(port_);
}

void PcscStack::fail(const std::string& what) const {
    throw StackError(what + "\n  pcscd log:\n" + tailOf(dir_ + "/pcscd.log") +
                     "  zrn-virtual-card log:\n" + tailOf(dir_ + "/virtual_card.log"));
}

void PcscStack::startDaemon() {
    // ZRN_PCSCD names another pcscd program (one built from source, say).
    const char* chosen = std::getenv("ZRN_PCSCD");
    const std::string pcscd = chosen != nullptr && *chosen != '\0'
                                  ? (access(chosen, X_OK) == 0 ? chosen : "")
                                  : firstExisting({"/usr/sbin/pcscd", "/usr/local/sbin/pcscd"});
    if (pcscd.empty()) {
        throw StackUnavailable(chosen != nullptr && *chosen != '\0'
                                   ? "ZRN_PCSCD=" + std::string(chosen) + " is not a program"
                                   : "pcscd is not installed (Debian package pcscd)");
    }
    const std::string driver = firstExisting({"/usr/lib/pcsc/drivers/serial/libifdvpcd.so",
                                              "/usr/local/lib/pcsc/drivers/serial/libifdvpcd.so"});
    if (driver.empty()) {
        throw StackUnavailable(
            "the vpcd reader driver is not installed (Debian package "
            "vsmartcard-vpcd)");
    }
    port_ = pickPortPair();
    fs::create_directories(dir_ + "/reader.conf.d");
    std::ofstream(dir_ + "/reader.conf.d/vpcd") << "FRIENDLYNAME \"" << kReaderName << "\"\n"
                                                << "DEVICENAME /dev/null:" << port_ << "\n"
                                                << "LIBPATH " << driver << "\n"
                                                << "CHANNELID " << port_ << "\n";

    pcscdPath_ = pcscd;
    std::string privateFailure;
    try {
        startPrivateDaemon();
        return;
    } catch (const std::runtime_error& e) {
        privateFailure = e.what();
    }
    if (access(kSystemSocket, F_OK) == 0 && socketAnswers(kSystemSocket)) {
        throw StackUnavailable("a pcscd already serves " + std::string(kSystemSocket) +
                               " and no private one can be started (" + privateFailure + ")");
    }
    startSharedDaemon();
}

void PcscStack::startPrivateDaemon() {
    PrivateRun run;
    run.directory = dir_ + "/run";
    run.uidMap = "0 " + std::to_string(getuid()) + " 1";
    run.gidMap = "0 " + std::to_string(getgid()) + " 1";
    fs::create_directories(run.directory);
    pcscd_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{pcscdPath_, "--foreground", "--config", dir_ + "/reader.conf.d"},
        dir_ + "/pcscd.log", [&run] { return run.enter(); });
    socketPath_ = run.directory + "/pcscd.comm";
    const bool ownUserNamespace =
        fs::read_symlink("/proc/self/ns/user") !=
        fs::read_symlink("/proc/" + std::to_string(pcscd_->pid()) + "/ns/user");
    mode_ = std::string("in a private mount ") +
            (ownUserNamespace ? "and user namespace" : "namespace") + " (socket " + socketPath_ +
            ")";
    // libpcsclite reads the socket name once, at its first connection.
    setenv("PCSCLITE_CSOCK_NAME", socketPath_.c_str(), 1);
}

void PcscStack::startSharedDaemon() {
    pcscd_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{pcscdPath_, "--foreground", "--config", dir_ + "/reader.conf.d"},
        dir_ + "/pcscd.log");
    socketPath_ = kSystemSocket;
    mode_ = "on the system socket " + socketPath_;
    unsetenv("PCSCLITE_CSOCK_NAME");
}

void PcscStack::awaitDaemon() {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(10000);
    LONG rv = SCARD_E_NO_SERVICE;
    while (std::chrono::steady_clock::now() < deadline) {
        if (const auto status = pcscd_->poll()) {
            fail("pcscd ended at start-up with status " + std::to_string(*status));
        }
        if (access(socketPath_.c_str(), F_OK) == 0) {
            rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_);
            if (rv == SCARD_S_SUCCESS) {
                haveContext_ = true;
                return;
            }
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    fail("pcscd does not serve " + socketPath_ + ": " + pcscHex(rv));
}

void PcscStack::findReader() {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(5000);
    while (std::chrono::steady_clock::now() < deadline) {
        DWORD size = 0;
        if (SCardListReaders(context_, nullptr, nullptr, &size) == SCARD_S_SUCCESS) {
            std::vector<char> names(size);
            if (SCardListReaders(context_, nullptr, names.data(), &size) == SCARD_S_SUCCESS) {
                for (const char* n = names.data(); *n != '\0'; n += std::strlen(n) + 1) {
                    const std::string name(n);
                    if (name.rfind(kReaderName, 0) == 0 && name.size() > 6 &&
                        name.compare(name.size() - 6, 6, " 00 00") == 0) {
                        reader_ = name;
                        return;
                    }
                }
            }
        }
        std::this_thread::sleep_for(milliseconds(50));
    }
    fail("pcscd lists no reader \"" + std::string(kReaderName) + " 00 00\"");
}

bool PcscStack::awaitReaderState(DWORD wanted, milliseconds timeout) {
    SCARD_READERSTATE state{};
    state.szReader = reader_.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const LONG rv = SCardGetStatusChange(context_, 100, &state, 1);
        if (rv == SCARD_S_SUCCESS) {
            const bool usable = (state.dwEventState & SCARD_STATE_MUTE) == 0;
            if ((state.dwEventState & wanted) != 0 && usable) {
                return true;
            }
            state.dwCurrentState = state.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
        } else if (rv != SCARD_E_TIMEOUT) {
            fail("SCardGetStatusChange: " + pcscHex(rv));
        }
        if (virtualCard_ && wanted == SCARD_STATE_PRESENT && !virtualCard_->running()) {
            fail("zrn-virtual-card ended before the reader saw the card");
        }
        if (pcscd_->poll()) {
            fail("pcscd ended");
        }
    }
    return false;
}

ZRN_CARD_HANDLE PcscStack::insert(const sim::CardImage& image) {
    if (virtualCard_) {
        fail("a card is already in the reader");
    }
    // The next card must not meet the reader still holding the last one.
    if (awaitingRemoval_) {
        if (!awaitReaderState(SCARD_STATE_EMPTY, milliseconds(5000))) {
            fail("the reader still reports the last card after its zrn-virtual-card ended");
        }
        awaitingRemoval_ = false;
    }
    const std::string imagePath = dir_ + "/card.json";
    sim::saveImage(image, imagePath);
    virtualCard_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{virtualCardPath_, "--port", std::to_string(port_), "--save", "--log",
                                 dir_ + "/apdu.log", "--wait", "5", imagePath},
        dir_ + "/virtual_card.log");
    if (!awaitReaderState(SCARD_STATE_PRESENT, milliseconds(10000))) {
        fail("the reader does not see the card of zrn-virtual-card");
    }
    DWORD protocol = 0;
    const LONG rv = SCardConnect(context_, reader_.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0,
                                 &card_, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        fail("SCardConnect: " + pcscHex(rv));
    }
    connected_ = true;
    if (protocol != SCARD_PROTOCOL_T0) {
        fail("SCardConnect chose protocol " + std::to_string(protocol) + ", not T=0");
    }
    return card_;
}

sim::CardImage PcscStack::remove() {
    if (!virtualCard_) {
        fail("no card in the reader");
    }
    if (connected_) {
        connected_ = false;
        if (const LONG rv = SCardDisconnect(card_, SCARD_LEAVE_CARD); rv != SCARD_S_SUCCESS) {
            fail("SCardDisconnect: " + pcscHex(rv));
        }
    }
    const int status = virtualCard_->stop();
    virtualCard_.reset();
    if (status != 0) {
        fail("zrn-virtual-card ended with status " + std::to_string(status));
    }
    awaitingRemoval_ = true;
    return sim::loadImage(dir_ + "/card.json");
}

}  // namespace zrn::integration
