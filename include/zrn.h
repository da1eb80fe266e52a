/*
 * ZRN: read and write the phone book and short messages of a GSM SIM card
 * held in a PC/SC reader.
 *
 * The host opens the reader and connects to the card itself (T=0), then hands
 * the card handle to ConnectReader. From then on the library sends GSM 11.11
 * commands (class A0) on that handle; it never connects, disconnects or locks
 * the card. Calls must not overlap: the library holds one card handle and one
 * phone-book geometry for the whole process.
 *
 * Every function returns a 32-bit signed result code, 0 on success. The host
 * owns every buffer and must make it as large as the constants below say.
 * GetErrMsg explains a code in Chinese, code page 936.
 */
#ifndef ZRN_H
#define ZRN_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(ZRN_BUILDING_LIBRARY)
/* library/zrn.def exports the plain names with their ordinals; dllexport
 * would add the stdcall-decorated names (ConnectReader@4) beside them. */
#    define ZRN_API
#  else
#    define ZRN_API __declspec(dllimport)
#  endif
#  define ZRN_CALL __stdcall
/* The platform's SCARDHANDLE, ULONG_PTR: pointer-sized, so 32 bits for the
 * 32-bit DLL and 64 bits for the 64-bit one. Spelt as the Windows headers
 * spell it, so that a host passes its SCARDHANDLE without a conversion. */
#  if defined(_WIN64)
typedef unsigned long long ZRN_CARD_HANDLE;
#  else
typedef unsigned long ZRN_CARD_HANDLE;
#  endif
#else
#  define ZRN_API __attribute__((visibility("default")))
#  define ZRN_CALL
/* pcsc-lite's SCARDHANDLE (LONG). */
typedef long ZRN_CARD_HANDLE;
#endif

/* Buffer sizes the host must provide. */
#define ZRN_CONFIG_TEXT_SIZE 41       /* GetConfig */
#define ZRN_ERRMSG_SIZE 60            /* GetErrMsg */
#define ZRN_PHONEBOOK_BUFFER_SIZE 40300 /* ReadZRN: 300 for groups + 40000 for contacts */
#define ZRN_SMS_ELEMENT_SIZE 360      /* ReadSMS: bytes per stored message */

#ifdef __cplusplus
extern "C" {
#endif

/* Attach a card. handle: the host's connected PC/SC card handle.
 * Results: 0 connected; 1 handle is 0 (nothing sent, earlier handle kept);
 * 3 the card cannot be read (EF_ADN, EF_SMS, configuration or option file). */
ZRN_API int32_t ZRN_CALL ConnectReader(ZRN_CARD_HANDLE handle);

/* Capacities as seven comma-separated decimals, zero-terminated, into text
 * (ZRN_CONFIG_TEXT_SIZE bytes): ADN, other numbers, SMS, ADI, groups and two
 * further card capacities.
 * Results: 0 written; 1 no card attached; 4 text is NULL. */
ZRN_API int32_t ZRN_CALL GetConfig(char* text);

/* Message of a result code in code page 936: exactly ZRN_ERRMSG_SIZE bytes are
 * written, the text zero-terminated. Results: 0 always; 4 text is NULL. */
ZRN_API int32_t ZRN_CALL GetErrMsg(int32_t code, char* text);

/* Read the whole phone book as a tagged element stream into buffer
 * (ZRN_PHONEBOOK_BUFFER_SIZE bytes); *count receives the contacts, *length
 * the stream length.
 * Results: 0 read; 1 no card; 2 extended layout: a card file cannot be read,
 * or the phone book exceeds the buffer; 319 standard layout: EF_ADN cannot be
 * read, or the phone book exceeds the buffer; 4 a NULL argument. On failure
 * length and buffer are left untouched, and so is count, except that a
 * standard-layout card failing in mid-read leaves in it the contacts read
 * before the failure. */
ZRN_API int32_t ZRN_CALL ReadZRN(int32_t* count, int32_t* length, unsigned char* buffer);

/* Replace the phone book with the contacts of stream (length bytes).
 * Results: 0 written; 1 no card; 2 a card write failed; 4 negative length or
 * NULL stream with a non-zero length; 331 to 374 the stream or the card was
 * refused (see the README's table). */
ZRN_API int32_t ZRN_CALL WriteZRN(int32_t count, int32_t length, const unsigned char* stream);

/* Read every stored short message as 360-byte elements into buffer
 * (ZRN_SMS_ELEMENT_SIZE bytes per message on the card).
 * Results: 0 read; -1 no card; 2 a message file cannot be read; 305 the extra
 * message file cannot be read; 4 a NULL argument. */
ZRN_API int32_t ZRN_CALL ReadSMS(int32_t* count, int32_t* length, unsigned char* buffer);

/* Store count short messages of stream (length bytes).
 * Results: 0 stored; -1 no card; 2 a card write failed; 4 the messages do not
 * fit the card, or a negative count or length, or a NULL stream; 305 no
 * working memory. */
ZRN_API int32_t ZRN_CALL WriteSMS(int32_t count, int32_t length, const unsigned char* stream);

#ifdef __cplusplus
}
#endif

#endif /* ZRN_H */
