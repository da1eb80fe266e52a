#pragma once

#include "sim/card_builder.h"
#include "sim/card_image.h"

namespace zrn::sim {

// The bundled sample cards, as samples/standard.json and samples/extended.json
// hold them (zrn-make-samples writes those files from these functions).

// Standard layout: EF_ADN of 100 records, 20 of them used (GSM alphabet names
// and the three UCS-2 forms 80, 81, 82), EF_SMS of 10 records, 8 of them used
// (received read/unread, sent, unsent; GSM 7-bit, UCS-2 and a two-part
// concatenated message).
CardImage standardSample();

// Extended layout under 7F10, with the geometry extendedSampleGeometry()
// returns: 8 groups (4 named, one in UCS-2), 15 contacts with several numbers
// of every type, ADI entries of both kinds and group memberships; EF_SMS of 20
// records and an extra message file of 10 records with its index.
CardImage extendedSample();
ExtendedGeometry extendedSampleGeometry();

}  // namespace zrn::sim
