#include "cli/image_json.h"

#include <cstdio>

namespace zrn::images {

namespace {

using Json = nlohmann::json;

std::string idText(std::uint16_t id) {
    char text[5];
    std::snprintf(text, sizeof text, "%04X", id);
    return text;
}

const CardFile* knownFile(const std::string& id) {
    for (const CardFile* f : filesOf({true, true})) {
        if (idText(f->id) == id) {
            return f;
        }
    }
    return nullptr;
}

std::optional<std::uint32_t> number(const Json& j, const char* key, std::uint32_t max) {
    if (!j.contains(key) || !j[key].is_number_unsigned()) {
        return std::nullopt;
    }
    const auto value = j[key].get<std::uint64_t>();
    if (value > max) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

Result<FileImage> fileFromJson(const Json& j) {
    using R = Result<FileImage>;
    if (!j.is_object() || !j.contains("file") || !j["file"].is_string()) {
        return R::failed("an image entry without its file identifier");
    }
    const std::string id = j["file"].get<std::string>();
    FileImage image;
    image.file = knownFile(id);
    if (image.file == nullptr) {
        return R::failed("an image of file " + id + ", which this tool does not read");
    }
    if (!j.contains("present") || !j["present"].is_boolean()) {
        return R::failed("the image of " + id + " does not say whether the file is present");
    }
    image.present = j["present"].get<bool>();
    if (!image.present) {
        return R::ok(std::move(image));
    }
    const auto size = number(j, "size", 0xFFFF);
    if (!size) {
        return R::failed("the image of " + id + " has no valid size");
    }
    image.size = static_cast<std::uint16_t>(*size);
    if (image.linearFixed()) {
        const auto length = number(j, "recordLength", 0xFF);
        if (!length || !j.contains("records") || !j["records"].is_array()) {
            return R::failed("the image of " + id + " has no record length or records");
        }
        image.recordLength = static_cast<std::uint8_t>(*length);
        const std::size_t most =
            *length == 0 ? 0 : std::min<std::size_t>(*size / *length, kMaxRecords);
        if (j["records"].size() != most) {
            return R::failed("the image of " + id + " holds " +
                             std::to_string(j["records"].size()) + " records, its size " +
                             std::to_string(most));
        }
        for (const Json& r : j["records"]) {
            Bytes record;
            if (!r.is_string() || !fromHex(r.get<std::string>(), record) ||
                record.size() != *length) {
                return R::failed("a record of the image of " + id + " is not " +
                                 std::to_string(*length) + " bytes of hex");
            }
            image.data.insert(image.data.end(), record.begin(), record.end());
        }
        return R::ok(std::move(image));
    }
    if (!j.contains("data") || !j["data"].is_string() ||
        !fromHex(j["data"].get<std::string>(), image.data) || image.data.size() != *size) {
        return R::failed("the image of " + id + " is not " + std::to_string(*size) +
                         " bytes of hex");
    }
    return R::ok(std::move(image));
}

}  // namespace

nlohmann::ordered_json imagesToJson(const CardImages& images) {
    nlohmann::ordered_json out = {{"layout", images.extended ? "extended" : "standard"},
                                  {"phonebookDirectory", idText(images.phonebookDirectory)}};
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FileImage& f : images.files) {
        nlohmann::ordered_json entry = {
            {"file", idText(f.file->id)}, {"name", f.file->name}, {"present", f.present}};
        if (f.present) {
            entry["size"] = f.size;
            if (f.linearFixed()) {
                entry["recordLength"] = f.recordLength;
                nlohmann::ordered_json records = nlohmann::ordered_json::array();
                for (std::size_t r = 0; r < f.recordCount(); ++r) {
                    records.push_back(toHex(f.record(r), false));
                }
                entry["records"] = std::move(records);
            } else {
                entry["data"] = toHex(f.data, false);
            }
        }
        list.push_back(std::move(entry));
    }
    out["files"] = std::move(list);
    return out;
}

Result<CardImages> imagesFromJson(const nlohmann::json& j) {
    using R = Result<CardImages>;
    if (!j.is_object() || !j.contains("layout") || !j["layout"].is_string() ||
        !j.contains("files") || !j["files"].is_array() || !j.contains("phonebookDirectory") ||
        !j["phonebookDirectory"].is_string()) {
        return R::failed("the card images need a layout, a phone-book directory and files");
    }
    CardImages images;
    const std::string layout = j["layout"].get<std::string>();
    if (layout != "extended" && layout != "standard") {
        return R::failed("the card images name an unknown layout \"" + layout + "\"");
    }
    images.extended = layout == "extended";
    Bytes directory;
    if (!fromHex(j["phonebookDirectory"].get<std::string>(), directory) || directory.size() != 2) {
        return R::failed("the card images' phone-book directory is not a file identifier");
    }
    images.phonebookDirectory = readBe16(directory.data());
    for (const Json& entry : j["files"]) {
        Result<FileImage> file = fileFromJson(entry);
        if (!file) {
            return R::failed(file.failure.what);
        }
        if (images.find(file.value->file->id) != nullptr) {
            return R::failed("the card images hold one file twice");
        }
        images.files.push_back(std::move(*file.value));
    }
    return R::ok(std::move(images));
}

}  // namespace zrn::images
