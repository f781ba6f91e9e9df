#pragma once

/*
 * libntp: an SNTPv4 client (RFC 4330, with the client rules of RFC 5905).
 *
 * One query sends one 48-byte client request over UDP and waits for the server's answer. The
 * request's transmit timestamp is random rather than the local clock, so that only a host that saw
 * the request can forge an answer; the real send time stays local. The answer is checked (server
 * mode, version 3 or 4, sent from the queried address and port, origin equal to our transmit
 * timestamp, synchronised, stratum 1..15, timestamps set) and the clock offset and round-trip
 * delay are computed as
 *     offset = ((T2 - T1) + (T3 - T4)) / 2,   delay = (T4 - T1) - (T3 - T2)
 * with T1/T4 from the real clock read once at send time plus a monotonic interval.
 *
 * Server strings: "host", "host:port", "[ipv6]", "[ipv6]:port", or a bare IPv6 literal ("::1").
 * Leading and trailing blanks are ignored. Names must be ASCII (use the "xn--" form of an
 * international name). The default port is 123. Name resolution is the system's and is not
 * bounded by the time-out.
 *
 * Datagrams that cannot be the answer to our request (from another address or port, shorter than
 * 48 bytes, or with another origin timestamp) are ignored and the query keeps waiting. If nothing
 * acceptable arrives before the time-out, the result is the reason the last ignored datagram was
 * rejected, ranked: NTP_E_MALFORMED or NTP_E_ORIGIN_MISMATCH (from the server's address) over
 * NTP_E_WRONG_SOURCE over NTP_E_TIMEOUT (nothing arrived at all). An answer whose origin matches
 * ends the query at once with its verdict, checked in this order: version and mode, Kiss-o'-Death,
 * leap indicator, stratum, timestamps.
 *
 * All calls are thread-safe. No exception leaves the library.
 */

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
#include <string>
#endif

#if defined(_WIN32)
#if defined(NTP_BUILDING_LIBRARY)
#define NTP_API __declspec(dllexport)
#else
#define NTP_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define NTP_API __attribute__((visibility("default")))
#else
#define NTP_API
#endif

/* Result codes. 1, 105 and 1901 are never used: the time service gives them other meanings. */
enum NtpStatus {
    NTP_OK = 0,
    NTP_E_BAD_ARGUMENT = 2,    /* null pointer, empty or unparsable server string, bad port */
    NTP_E_RESOLVE = 3,         /* the name did not resolve (systemError: the getaddrinfo code) */
    NTP_E_SOCKET = 4,          /* socket create/bind/send/receive failed (systemError: OS code) */
    NTP_E_TIMEOUT = 5,         /* no datagram at all arrived in time */
    NTP_E_MALFORMED = 6,       /* reply too short, version not 3 or 4, mode not server (4), or
                                  receive timestamp zero */
    NTP_E_WRONG_SOURCE = 7,    /* only datagrams from another address or port arrived */
    NTP_E_ORIGIN_MISMATCH = 8, /* the reply's origin timestamp is not our transmit timestamp */
    NTP_E_ZERO_TRANSMIT = 9,   /* the reply's transmit timestamp is zero */
    NTP_E_KISS_OF_DEATH = 10,  /* stratum 0 with a kiss code (see kissCode); stop asking */
    NTP_E_UNSYNCHRONIZED = 11, /* leap indicator 3: the server's clock is not synchronised */
    NTP_E_BAD_STRATUM = 12,    /* stratum above 15 */
    NTP_E_INTERNAL = 13        /* out of memory or no random source */
};

#define NTP_DEFAULT_TIMEOUT_MS 3000u
#define NTP_DEFAULT_PORT 123

/* What a query learned. Filled as far as the query got: header fields once an answer to our
   request arrived (also for a rejected one, e.g. kissCode of a Kiss-o'-Death), time/offset/delay
   only on NTP_OK, systemError on NTP_E_RESOLVE and NTP_E_SOCKET. */
typedef struct NtpResult {
    long long timeMs;           /* server time at return, ms since 1970-01-01 UTC */
    long long offsetNs;         /* server clock minus local clock, nanoseconds */
    long long delayNs;          /* round-trip delay, nanoseconds (never negative) */
    long long rootDelayNs;      /* server's round trip to its reference */
    long long rootDispersionNs; /* server's error bound to its reference */
    int stratum;                /* 0..255 as sent */
    int leap;                   /* leap indicator 0..3 */
    int version;                /* 3 or 4 */
    int poll;                   /* log2 seconds, as sent */
    int precision;              /* log2 seconds, as sent */
    unsigned int referenceId;   /* host order */
    char kissCode[5];           /* Kiss-o'-Death code ("RATE", "DENY", ...), else empty */
    char address[64];           /* numeric address and port queried: "127.0.0.1:123", "[::1]:123" */
    int systemError;            /* errno / WSAGetLastError() / getaddrinfo code, else 0 */
} NtpResult;

#ifdef __cplusplus
extern "C" {
#endif

/* Queries `server` (NUL-terminated, at most 1024 characters) and fills `result`. `timeoutMs` 0
   means NTP_DEFAULT_TIMEOUT_MS. Returns an NtpStatus. */
NTP_API int GetNtpTimeEx(const wchar_t* server, unsigned int timeoutMs, NtpResult* result);

/* A short English description of an NtpStatus code; never null. */
NTP_API const char* NtpStatusText(int code);

#ifdef __cplusplus
/* The time service's entry point: GetNtpTimeEx with the default time-out. On NTP_OK `time` holds
   the server's time in ms since 1970-01-01 UTC; otherwise it is left unchanged. */
NTP_API int GetNtpTime(const std::wstring& server, long long& time);
#endif

#ifdef __cplusplus
}
#endif
