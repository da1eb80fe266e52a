#pragma once

// Short-message records as the SIM stores them (GSM 11.11 10.5.3: a status
// byte, then the service centre address and the TPDU of 3GPP TS 23.040), with
// the user data decoded per 3GPP TS 23.038.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channel/bytes.h"
#include "cli/outcome.h"
#include "cli/text/gsm7.h"

namespace zrn::cli {

constexpr std::size_t kSmsRecordSize = 176;

enum class SmsStatus { kFree, kRead, kUnread, kSent, kUnsent };
const char* smsStatusName(SmsStatus status);  // free, read, unread, sent, unsent
std::optional<SmsStatus> smsStatusFromName(std::string_view name);
SmsStatus smsStatusOf(std::uint8_t statusByte);

enum class SmsKind { kNone, kDeliver, kSubmit, kStatusReport, kCommand };
const char* smsKindName(SmsKind kind);  // none, deliver, submit, status-report, command

struct Concatenation {
    int reference = 0;
    int total = 0;
    int sequence = 0;
    bool operator==(const Concatenation&) const = default;
};

struct DecodedSms {
    SmsStatus status = SmsStatus::kFree;
    SmsKind kind = SmsKind::kNone;
    // A free record whose bytes still hold a message: decoded as far as it
    // goes, status kFree; the kind follows from its message type alone.
    bool deleted = false;
    std::string smsc;  // "+4917..." or empty
    // Originator (deliver), destination (submit, command) or the recipient of
    // the message a status report is about.
    std::string address;
    // ISO 8601 with zone: the service centre time stamp of a deliver or a
    // status report; empty when absent or invalid.
    std::string timestamp;
    std::string dischargeTime;  // status report: when the outcome was reached
    int reportStatus = -1;      // status report: TP-ST
    int commandType = -1;       // command: TP-CT
    int messageNumber = -1;     // command: TP-MN
    int messageReference = -1;
    int protocolId = 0;
    int dataCoding = 0;
    std::string encoding;  // gsm7, 8bit, ucs2, compressed
    std::string text;      // UTF-8; for 8-bit data the bytes as hex
    Bytes userDataHeader;  // without its length byte
    std::optional<Concatenation> concatenation;
    text::Gsm7Tables nationalTables;  // from the header's national language shifts
    std::string problem;              // set when the record does not decode cleanly
};

// TS 23.040 9.2.3.15: what a status report's TP-ST says, e.g. "short message
// received by the SME".
std::string reportStatusMeaning(int status);
// TS 23.040 9.2.3.19: what a command's TP-CT asks for.
std::string commandTypeMeaning(int type);

// Decodes one record; never reads outside `record` and never fails: what does
// not decode is described in `problem`. A free record is decoded as a deleted
// message when its bytes still hold one.
DecodedSms decodeSmsRecord(ByteView record);
// Whether a free record still holds the bytes of a message (anything but
// the padding a cleared record is filled with).
bool holdsDeletedMessage(ByteView record);

// A stored message as the library returns it: its store tag and its record.
struct StoredSms {
    std::string store;  // CMS, LMS or EMS
    int position = 0;   // 1-based, in the order the store returned it
    Bytes record;
};

// One message as people read it: a single record, or the parts of a
// concatenated message joined in sequence order.
struct SmsMessage {
    std::vector<std::size_t> parts;  // indices into the stored list, in sequence order
    DecodedSms first;                // the first part (status, addresses, time)
    std::string text;                // all parts joined
    bool complete = true;            // every part of a concatenated message is present
    int totalParts = 1;
};

std::vector<SmsMessage> assembleMessages(const std::vector<StoredSms>& stored);

// What a person writes: a new message to be stored. Long texts become
// concatenated parts with one reference. The text is coded in the default
// alphabet, with national language shift tables where they make the message
// shorter than UCS-2, or in UCS-2.
struct SmsDraft {
    SmsStatus status = SmsStatus::kUnsent;
    std::string address;  // digits, '+' for international
    std::string smsc;     // empty: none
    std::string text;
    std::string timestamp;  // ISO 8601; used for received messages (status read/unread)
    int reference = 0;      // concatenation reference
};

// The records of a draft: a SUBMIT for sent/unsent, a DELIVER for read/unread.
Outcome<std::vector<Bytes>> encodeSmsDraft(const SmsDraft& draft);

// The elements WriteSMS takes: 0x01, tag, 00 00 01 60, the record as upper-case hex.
Bytes smsElement(std::string_view store, ByteView record);
// Splits a ReadSMS stream; every element is checked before it is used.
Outcome<std::vector<StoredSms>> parseSmsStream(ByteView stream);

}  // namespace zrn::cli
