#pragma once

#include "sim/card_builder.h"
#include "sim/card_image.h"

namespace zrn::sim {

// The bundled sample cards, as samples/standard.json, samples/extended.json and
// samples/standard-pin.json hold them (zrn-make-samples writes those files
// from these functions). All carry the files of addGsmFiles() and a CHV2
// (2222, PUK 22222222 unless said otherwise).

// Standard layout: EF_ADN of 100 records, 20 of them used (GSM alphabet names
// and the three UCS-2 forms 80, 81, 82), EF_SMS of 10 records, 8 of them used
// (received read/unread, sent, unsent; GSM 7-bit, UCS-2 and a two-part
// concatenated message).
CardImage standardSample();

// The standard sample with CHV1 enabled (PIN kPinSamplePin, PUK kPinSamplePuk),
// CHV2 kPinSamplePin2 / kPinSamplePuk2, EF_ADN and EF_SMS readable and
// updatable after CHV1, EF_ADN invalidated and rehabilitated after CHV2.
// samples/standard-pin.json.
CardImage pinSample();
constexpr const char* kPinSamplePin = "1234";
constexpr const char* kPinSamplePuk = "12345678";
constexpr const char* kPinSamplePin2 = "5678";
constexpr const char* kPinSamplePuk2 = "87654321";

// Extended layout under 7F10, with the geometry extendedSampleGeometry()
// returns: 8 groups (4 named, one in UCS-2), 15 contacts with several numbers
// of every type, ADI entries of both kinds and group memberships; EF_SMS of 20
// records and an extra message file of 10 records with its index.
CardImage extendedSample();
ExtendedGeometry extendedSampleGeometry();

}  // namespace zrn::sim
