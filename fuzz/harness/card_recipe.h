#pragma once

// A card recipe: a fuzz input that describes a whole SIM. The header gives the
// layout and the geometry (the configuration file's 20 bytes as they stand on
// the card, the option byte, record counts and lengths, including lengths that
// disagree with the configuration); the card is built from it with the
// simulator's builders and then patched with the chunks that follow.
//
//   flags             bit 0 extended layout, bit 1 phone book under 5F00,
//                     bit 2 extra message file, bit 3 extra message index,
//                     bit 4 option file (standard: present; extended: absent)
//   [extended only]   20 configuration bytes, option byte, ADI record length
//                     and group record length on the card (0: as configured)
//   EF_ADN            record count, record length (0: 28)
//   messages          EF_SMS records, extra records, record length (0: 176),
//                     index length minus extra records (signed byte)
//   chunks, to the end: file selector, offset (16 bits), length, bytes
//
// File selectors: 0 name, 1 number, 2 ADI, 3 group, 4 EF_ADN, 5 EF_SMS,
// 6 extra messages, 7 index, 8 option, 9 configuration (modulo 10). A chunk
// for a file the card lacks is ignored; offsets wrap around the file, and a
// chunk is cut at the file's end.

#include <optional>

#include "channel/bytes.h"
#include "sim/card_image.h"

namespace zrn::fuzz {

// The card a recipe describes; nullopt when the builders refuse its geometry.
std::optional<sim::CardImage> cardFromRecipe(ByteView recipe);

// A recipe for `image` (as far as the recipe can describe it): used to make
// seed inputs from the sample cards.
Bytes recipeOf(const sim::CardImage& image);

}  // namespace zrn::fuzz
