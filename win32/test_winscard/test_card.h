#pragma once

// The test winscard.dll's own exports beyond PC/SC: the test host puts a
// card image (JSON text) into the one reader and takes it out again. The
// host looks them up with GetProcAddress, so that it can tell when Wine
// loaded its own winscard.dll instead (WINEDLLOVERRIDES=winscard=n missing).
#include <windows.h>

extern "C" {
// Inserts the card; SCARD_E_INVALID_PARAMETER when the JSON is no card image.
LONG WINAPI ZrnTestInsertCard(const char* imageJson);
// Takes the card out and writes its image, zero-terminated, into `buffer`
// (`*length` bytes). SCARD_E_INSUFFICIENT_BUFFER with *length the size
// needed, and the card left in, when the buffer is too small or null;
// SCARD_E_NO_SMARTCARD when the reader is empty.
LONG WINAPI ZrnTestRemoveCard(char* buffer, DWORD* length);
}

using ZrnTestInsertCardFn = decltype(&ZrnTestInsertCard);
using ZrnTestRemoveCardFn = decltype(&ZrnTestRemoveCard);
