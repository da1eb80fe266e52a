#pragma once

// What the exports promise on any input: the result codes each one may
// return, the shape of the streams they produce, and which card files a call
// may change. Shared by the fuzz targets and the reliability tests.

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "channel/bytes.h"
#include "sim/card_image.h"

namespace zrn::fuzz {

enum class Export { kConnectReader, kGetConfig, kReadZRN, kWriteZRN, kReadSMS, kWriteSMS };

const char* exportName(Export which);

// Every result code the export can return, whatever the card and the arguments.
const std::set<std::int32_t>& documentedResults(Export which);
bool isDocumentedResult(Export which, std::int32_t result);

// WriteZRN's refusals of a stream: nothing has been written when they come.
bool isStreamRefusal(std::int32_t writeZrnResult);
// WriteZRN's results that report a missing card or a failed card command.
bool isCardFailure(std::int32_t writeZrnResult);

// A broken promise: reported through the handler, which by default prints
// `what` and aborts (the fuzzer's crash). Tests install one that fails the test.
using ViolationHandler = void (*)(const std::string& what);
void setViolationHandler(ViolationHandler handler);
void violation(const std::string& what);
inline void require(bool holds, const std::string& what) {
    if (!holds) {
        violation(what);
    }
}

// A phone-book stream as ReadZRN builds it: consecutive elements, each head
// and value inside the stream, GRP elements only before the first NCD, each
// NCD's length exactly its nested elements. Returns the number of NCD
// elements with content, or -1 with `why` set when the stream is malformed.
int countContacts(ByteView stream, std::string& why);

// An SMS stream as ReadSMS builds it: `count` elements of 360 bytes, tags
// CMS, LMS or EMS, length 352, upper-case hex text. Empty `why` when it is.
std::string smsStreamProblem(ByteView stream, std::int32_t count);

// The paths ("7F10/6F04") of the files whose content, structure or record
// length differ between the two images, files added or removed included.
std::vector<std::string> changedFiles(const sim::CardImage& before, const sim::CardImage& after);

// "7F10/6F04" for a path below the MF.
std::string pathText(std::initializer_list<std::uint16_t> path);

}  // namespace zrn::fuzz
