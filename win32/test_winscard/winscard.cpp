// A winscard.dll for tests under Wine: one reader holding the simulated
// GSM card, reached through the PC/SC calls a host and ZRN.dll make. It
// checks what a real T=0 reader would: the handle, the protocol
// information, the receive buffer.
#define WINSCARDDATA
#include <windows.h>
#include <winscard.h>

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "sim/card_image.h"
#include "sim/sim_card.h"
#include "win32/test_winscard/test_card.h"
#include "zrn.h"

// The handles this reader hands out reach ZRN.dll unchanged.
static_assert(std::is_same_v<ZRN_CARD_HANDLE, SCARDHANDLE>);

extern "C" {
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};
}

namespace {

constexpr char kReaderName[] = "ZRN Simulated Reader 0";

// The one reader. The tests call from one thread only, so nothing is locked.
struct Reader {
    std::unique_ptr<zrn::sim::SimCard> card;
    SCARDHANDLE connected = 0;  // 0: no connection
    SCARDHANDLE nextHandle = 0x5A520001;
    SCARDCONTEXT nextContext = 0x00C0FFEE;
    int openContexts = 0;
};

Reader& reader() {
    static Reader r;
    return r;
}

// No exception leaves the DLL.
template <typename Body>
LONG guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return static_cast<LONG>(SCARD_F_INTERNAL_ERROR);
    }
}

// The SCARD_ codes come as DWORD or HRESULT depending on the header that
// defined them last; PC/SC returns them as LONG.
template <typename Code>
LONG err(Code code) {
    return static_cast<LONG>(code);
}

}  // namespace

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD /*scope*/, LPCVOID /*reserved1*/, LPCVOID /*reserved2*/,
                                  LPSCARDCONTEXT context) {
    if (context == nullptr) {
        return err(SCARD_E_INVALID_PARAMETER);
    }
    *context = reader().nextContext++;
    ++reader().openContexts;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT /*context*/) {
    if (reader().openContexts == 0) {
        return err(SCARD_E_INVALID_HANDLE);
    }
    --reader().openContexts;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT /*context*/, LPCSTR /*groups*/, LPSTR readers,
                              LPDWORD length) {
    if (length == nullptr) {
        return err(SCARD_E_INVALID_PARAMETER);
    }
    const DWORD needed = sizeof kReaderName + 1;  // the name, then the list's final zero
    if (readers == nullptr) {
        *length = needed;
        return SCARD_S_SUCCESS;
    }
    if (*length < needed) {
        *length = needed;
        return err(SCARD_E_INSUFFICIENT_BUFFER);
    }
    std::memcpy(readers, kReaderName, sizeof kReaderName);
    readers[sizeof kReaderName] = '\0';
    *length = needed;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardConnectA(SCARDCONTEXT /*context*/, LPCSTR name, DWORD shareMode, DWORD protocols,
                          LPSCARDHANDLE card, LPDWORD activeProtocol) {
    return guarded([&] {
        Reader& r = reader();
        if (name == nullptr || card == nullptr || activeProtocol == nullptr) {
            return err(SCARD_E_INVALID_PARAMETER);
        }
        if (std::strcmp(name, kReaderName) != 0) {
            return err(SCARD_E_UNKNOWN_READER);
        }
        if (shareMode != SCARD_SHARE_SHARED && shareMode != SCARD_SHARE_EXCLUSIVE) {
            return err(SCARD_E_INVALID_VALUE);
        }
        if (!r.card) {
            return err(SCARD_E_NO_SMARTCARD);
        }
        if (r.connected != 0) {
            return err(SCARD_E_SHARING_VIOLATION);
        }
        // The simulated SIM's ATR offers T=0 only.
        if ((protocols & SCARD_PROTOCOL_T0) == 0) {
            return err(SCARD_E_PROTO_MISMATCH);
        }
        r.card->reset();
        r.connected = r.nextHandle++;
        *card = r.connected;
        *activeProtocol = SCARD_PROTOCOL_T0;
        return LONG{SCARD_S_SUCCESS};
    });
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
    return guarded([&] {
        Reader& r = reader();
        if (card == 0 || card != r.connected) {
            return err(SCARD_E_INVALID_HANDLE);
        }
        if (disposition != SCARD_LEAVE_CARD && r.card) {
            r.card->reset();
        }
        r.connected = 0;
        return LONG{SCARD_S_SUCCESS};
    });
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST sendPci, LPCBYTE command,
                          DWORD commandLength, LPSCARD_IO_REQUEST /*receivePci*/, LPBYTE response,
                          LPDWORD responseLength) {
    return guarded([&] {
        Reader& r = reader();
        if (card == 0 || card != r.connected) {
            return err(SCARD_E_INVALID_HANDLE);
        }
        if (!r.card) {
            return err(SCARD_W_REMOVED_CARD);
        }
        if (sendPci == nullptr || command == nullptr || response == nullptr ||
            responseLength == nullptr || commandLength == 0) {
            return err(SCARD_E_INVALID_PARAMETER);
        }
        if (sendPci->dwProtocol != SCARD_PROTOCOL_T0) {
            return err(SCARD_E_PROTO_MISMATCH);
        }
        zrn::Bytes answer;
        if (const long rv = r.card->transmit(zrn::ByteView(command, commandLength), answer);
            rv != 0) {
            return static_cast<LONG>(rv);
        }
        if (answer.size() > *responseLength) {
            return err(SCARD_E_INSUFFICIENT_BUFFER);
        }
        std::memcpy(response, answer.data(), answer.size());
        *responseLength = static_cast<DWORD>(answer.size());
        return LONG{SCARD_S_SUCCESS};
    });
}

LONG WINAPI ZrnTestInsertCard(const char* imageJson) {
    return guarded([&] {
        if (imageJson == nullptr) {
            return err(SCARD_E_INVALID_PARAMETER);
        }
        try {
            reader().card = std::make_unique<zrn::sim::SimCard>(zrn::sim::parseImage(imageJson));
        } catch (const std::runtime_error&) {
            return err(SCARD_E_INVALID_PARAMETER);
        }
        reader().connected = 0;
        return LONG{SCARD_S_SUCCESS};
    });
}

LONG WINAPI ZrnTestRemoveCard(char* buffer, DWORD* length) {
    return guarded([&] {
        Reader& r = reader();
        if (length == nullptr) {
            return err(SCARD_E_INVALID_PARAMETER);
        }
        if (!r.card) {
            return err(SCARD_E_NO_SMARTCARD);
        }
        const std::string json = zrn::sim::serializeImage(r.card->image());
        const auto needed = static_cast<DWORD>(json.size() + 1);
        if (buffer == nullptr || *length < needed) {
            *length = needed;
            return err(SCARD_E_INSUFFICIENT_BUFFER);
        }
        std::memcpy(buffer, json.c_str(), needed);
        *length = needed;
        r.card.reset();
        r.connected = 0;
        return LONG{SCARD_S_SUCCESS};
    });
}

}  // extern "C"
