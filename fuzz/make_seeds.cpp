// zrn-fuzz-seeds DIR: writes the seed corpora DIR/<target>/seed-* from the
// sample cards: card recipes of both samples, the streams the library reads
// from them, and the tool's files for their phone books and messages.
// fuzz/corpus is made with it; the fuzzer's own finds are kept beside them.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "fuzz/harness/card_recipe.h"
#include "fuzz/harness/checked_calls.h"
#include "fuzz/harness/targets.h"
#include "sim/card_builder.h"
#include "sim/samples.h"
#include "sms/sms.h"

#ifdef ZRN_FUZZ_WITH_CLI
#include "cli/formats/csv.h"
#include "cli/formats/json_format.h"
#include "cli/formats/vcard.h"
#include "cli/phonebook_model.h"
#include "cli/sms_pdu.h"
#endif

namespace {

namespace fs = std::filesystem;
using zrn::Bytes;
using zrn::ByteView;

struct Streams {
    Bytes phonebook;
    std::int32_t contacts = 0;
    Bytes messages;
    std::int32_t messageCount = 0;
};

Streams readStreams(const zrn::sim::CardImage& image) {
    zrn::fuzz::CardRun run(image);
    zrn::fuzz::checkedConnect();
    Streams s;
    const auto phonebook = zrn::fuzz::checkedReadZrn();
    s.phonebook = phonebook.stream;
    s.contacts = phonebook.count;
    const auto messages = zrn::fuzz::checkedReadSms(zrn::sms::kMaxStoredMessages);
    s.messages = messages.stream;
    s.messageCount = messages.count;
    return s;
}

class Corpus {
  public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}

    void add(const std::string& target, const std::string& name, ByteView bytes) {
        const fs::path dir = root_ / target;
        fs::create_directories(dir);
        std::ofstream out(dir / ("seed-" + name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        ++written_;
    }
    void add(const std::string& target, const std::string& name, const std::string& text) {
        add(target, name,
            ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    int written() const { return written_; }

  private:
    fs::path root_;
    int written_ = 0;
};

Bytes prefixed(std::initializer_list<std::uint8_t> head, ByteView rest) {
    Bytes out(head);
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

void addCodecSeeds(Corpus& corpus, const zrn::sim::CardImage& extended) {
    corpus.add("bcd_codec", "decode", Bytes{0x00, 0x21, 0x43, 0xF5});
    corpus.add("bcd_codec", "encode", Bytes{0x01, '1', '3', '8', '0', '0', '1', '3', ':', ';'});
    corpus.add("bcd_codec", "value", Bytes{0x02, '1', '2', 0x00, '3'});
    const Bytes record = extended.record({0x7F10, 0x6F3C}, 0);
    corpus.add("sms_hex_codec", "record", prefixed({0x00}, record));
    corpus.add("sms_hex_codec", "text",
               prefixed({0x01, 0x10}, zrn::Bytes{'0', '1', 'a', 'F', 'g', '7'}));
    corpus.add("sms_hex_codec", "unit", Bytes{0x02, 0x00, 0x00, 0x01, 0x68, 0x01, 'C', 'M', 'S'});
}

void addCardSeeds(Corpus& corpus, const std::string& name, const zrn::sim::CardImage& image,
                  const Streams& streams, bool extended) {
    const Bytes recipe = zrn::fuzz::recipeOf(image);
    corpus.add("read_zrn", name, recipe);
    corpus.add("read_sms", name, recipe);
    corpus.add("card_image_json", name, zrn::sim::serializeImage(image));
    corpus.add("lying_card", name + "-honest", Bytes{static_cast<std::uint8_t>(extended)});
    corpus.add("lying_card", name + "-short-response",
               Bytes{static_cast<std::uint8_t>(extended), 0, 0, 0, 0, 0xA1});
    const auto count = static_cast<std::uint8_t>(streams.messageCount);
    for (std::uint8_t preset = 0; preset < 4; ++preset) {
        corpus.add("write_sms", name + "-preset" + std::to_string(preset),
                   prefixed({preset, count}, streams.messages));
    }
    if (extended) {
        for (std::uint8_t preset = 0; preset < 6; ++preset) {
            corpus.add("write_zrn_extended", name + "-preset" + std::to_string(preset),
                       prefixed({preset}, streams.phonebook));
        }
    } else {
        const auto contacts = static_cast<std::uint8_t>(streams.contacts);
        for (std::uint8_t preset = 0; preset < 4; ++preset) {
            corpus.add("write_zrn_standard", name + "-preset" + std::to_string(preset),
                       prefixed({preset, 0, contacts}, streams.phonebook));
        }
    }
}

#ifdef ZRN_FUZZ_WITH_CLI
void addToolSeeds(Corpus& corpus, const std::string& name, const Streams& streams, bool extended) {
    using namespace zrn::cli;
    auto raw = parsePhonebookStream(streams.phonebook);
    if (raw) {
        const Phonebook phonebook = decodePhonebook(raw.value());
        corpus.add("cli_vcard", name, formats::writeVcards(phonebook));
        corpus.add("cli_csv", name, formats::writeCsv(phonebook));
        corpus.add(
            "cli_json", name + "-phonebook",
            "\x02" +
                formats::phonebookToJson(phonebook, extended ? "extended" : "standard").dump(2));
    }
    corpus.add("cli_phonebook_stream", name,
               prefixed({static_cast<std::uint8_t>(extended)}, streams.phonebook));
    auto stored = parseSmsStream(streams.messages);
    if (stored) {
        corpus.add("cli_json", name + "-messages",
                   "\x01" + formats::messagesToJson(stored.value()).dump(2));
        for (std::size_t i = 0; i < stored->size() && i < 4; ++i) {
            corpus.add("cli_sms_pdu", name + "-record" + std::to_string(i),
                       stored.value()[i].record);
        }
    }
    corpus.add("cli_sms_pdu", name + "-stream", streams.messages);
}

void addHandWrittenToolSeeds(Corpus& corpus) {
    corpus.add("cli_vcard", "v21-quoted-printable",
               std::string("BEGIN:VCARD\r\nVERSION:2.1\r\n"
                           "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=B8=89;;;\r\n"
                           "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0=E4=B8=89\r\n"
                           "TEL;CELL:+8613800138000\r\nTEL;HOME:010-1234\r\n"
                           "NOTE;ENCODING=QUOTED-PRINTABLE:line one=0D=0A=\r\nline two\r\n"
                           "END:VCARD\r\n"));
    corpus.add("cli_vcard", "v40",
               std::string("BEGIN:VCARD\nVERSION:4.0\nFN:Anna\nTEL;TYPE=work,voice;VALUE=uri:"
                           "tel:+49-30-1234\nEMAIL:anna@example.org\nCATEGORIES:Work,Friends\n"
                           "END:VCARD\n"));
    corpus.add(
        "cli_csv", "quoted",
        std::string("name,general,mobile,home,work,other,note1,note2,groups,group_numbers\r\n"
                    "\"Smith, \"\"Jo\"\"\",123,456;789,,,,\"multi\r\nline\",,Work\\;Home,2\r\n"));
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zrn-fuzz-seeds CORPUS-DIR\n";
        return 1;
    }
    Corpus corpus(argv[1]);
    const zrn::sim::CardImage extended = zrn::sim::extendedSample();
    const zrn::sim::CardImage standard = zrn::sim::standardSample();
    const Streams extendedStreams = readStreams(extended);
    const Streams standardStreams = readStreams(standard);

    addCodecSeeds(corpus, extended);
    addCardSeeds(corpus, "sample-extended", extended, extendedStreams, true);
    addCardSeeds(corpus, "sample-standard", standard, standardStreams, false);
    zrn::sim::ExtendedGeometry under5F00 = zrn::sim::extendedSampleGeometry();
    under5F00.directory = zrn::sim::files::kSecondDirectory;
    corpus.add("read_zrn", "empty-5F00",
               zrn::fuzz::recipeOf(zrn::sim::buildExtendedCard(under5F00)));
#ifdef ZRN_FUZZ_WITH_CLI
    addToolSeeds(corpus, "sample-extended", extendedStreams, true);
    addToolSeeds(corpus, "sample-standard", standardStreams, false);
    addHandWrittenToolSeeds(corpus);
#endif
    std::cout << corpus.written() << " seeds written to " << argv[1] << "\n";
    return 0;
}
