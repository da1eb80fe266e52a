#pragma once

// The fuzz targets. Each takes any bytes, runs the code under test on them
// and reports every broken promise through violation() (contracts.h). The
// libFuzzer entry point and the corpus replay test share this table.

#include <span>
#include <string_view>

#include "channel/bytes.h"

namespace zrn::fuzz {

struct Target {
    const char* name;  // also the corpus directory fuzz/corpus/<name>
    void (*run)(ByteView input);
};

std::span<const Target> targets();
// nullptr when there is no target of that name.
const Target* findTarget(std::string_view name);

// The library as a fresh process has it: no card handle, zero geometry.
void resetLibrary();

// Codecs.
void runBcdCodec(ByteView input);
void runSmsHexCodec(ByteView input);
void runCardImageJson(ByteView input);
// The exports over a card described by a card recipe (card_recipe.h).
void runReadZrn(ByteView input);
void runReadSms(ByteView input);
// The writing exports over host streams, on honest cards.
void runWriteZrnExtended(ByteView input);
void runWriteZrnStandard(ByteView input);
void runWriteSms(ByteView input);
// Every export against a card whose answers are mangled.
void runLyingCard(ByteView input);
// The tool's readers of untrusted files.
void runCliVcard(ByteView input);
void runCliCsv(ByteView input);
void runCliJson(ByteView input);
void runCliPhonebookStream(ByteView input);
void runCliSmsPdu(ByteView input);

}  // namespace zrn::fuzz
