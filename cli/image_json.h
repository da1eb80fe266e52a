#pragma once

// Card images in a backup document: one entry per file, present or absent,
// with its size, record length and bytes in hex (a list of records for a
// linear fixed file).

#include <nlohmann/json.hpp>

#include "core/card_images.h"

namespace zrn::images {

nlohmann::ordered_json imagesToJson(const CardImages& images);
// Checks every field: known file identifiers, hex text, records of the
// stated length, no more bytes than the stated size.
Result<CardImages> imagesFromJson(const nlohmann::json& json);

}  // namespace zrn::images
