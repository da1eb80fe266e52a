#pragma once

#include <winscard.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "tests/integration/case_list.h"
#include "tests/integration/child_process.h"

namespace zrn::integration {

// No pcscd of the tests' own can run here; the message says why.
class StackUnavailable : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The real Linux stack: a pcscd of the tests' own with the vpcd reader
// driver on a free port, zrn-virtual-card as the card, pcsc-lite as the host's
// PC/SC interface.
//
// pcscd always serves /run/pcscd/pcscd.comm. To stay out of the way of a
// pcscd that may already run, it is started in a mount namespace of its own
// where a private directory stands in for /run/pcscd; the host then finds it
// through PCSCLITE_CSOCK_NAME. Where no namespace can be made and no pcscd
// runs, it takes the ordinary socket.
class PcscStack final : public CardStack {
  public:
    // Throws StackUnavailable when pcscd, the vpcd driver or a socket of its
    // own cannot be had, StackError when pcscd starts but does not serve.
    explicit PcscStack(std::string virtualCardPath);
    ~PcscStack() override;

    ZRN_CARD_HANDLE insert(const sim::CardImage& image) override;
    sim::CardImage remove() override;

    // One line for logs: how the daemon runs and where.
    std::string describe() const;
    // The vpcd reader's name as pcscd lists it, for other PC/SC clients.
    const std::string& readerName() const { return reader_; }

  private:
    void startDaemon();
    void startPrivateDaemon();
    void startSharedDaemon();
    void awaitDaemon();
    void findReader();
    // Waits until the reader reports `wanted` (SCARD_STATE_PRESENT or
    // SCARD_STATE_EMPTY); false on timeout.
    bool awaitReaderState(DWORD wanted, std::chrono::milliseconds timeout);
    [[noreturn]] void fail(const std::string& what) const;

    std::string virtualCardPath_;
    std::string pcscdPath_;
    std::string dir_;
    std::string socketPath_;
    std::string mode_;
    std::string reader_;
    int port_ = 0;
    std::unique_ptr<ChildProcess> pcscd_;
    std::unique_ptr<ChildProcess> virtualCard_;
    SCARDCONTEXT context_ = 0;
    bool haveContext_ = false;
    SCARDHANDLE card_ = 0;
    bool connected_ = false;
    // pcscd has yet to notice that the last card went (it polls the reader).
    bool awaitingRemoval_ = false;
};

}  // namespace zrn::integration
