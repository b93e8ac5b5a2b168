// WinINet's synchronous client as the probes use it: sessions, URL handles and reading.
//
// Reproduced from WinINet: InternetOpenUrlA sends the request and returns once the response
// headers are in, positioned at the body; redirects are followed; the body is delivered whatever
// the status code; nothing is served from or written to a cache (there is none); the schemes are
// http, https and ftp; the proxy is the one configured for the process (the usual *_proxy
// variables). A connection that cannot be made in 60 s, or a response that stalls for 60 s,
// fails, as WinINet's default time-outs make it.
#ifndef TELVARIO_PLATFORM_POSIX_WININET_H
#define TELVARIO_PLATFORM_POSIX_WININET_H

#include "windows_types.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;

constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass,
                        DWORD flags);
HINTERNET InternetOpenUrlA(HINTERNET session, LPCSTR url, LPCSTR headers, DWORD headersLength,
                           DWORD flags, DWORD_PTR context);
BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead);
BOOL InternetCloseHandle(HINTERNET handle);

#endif
