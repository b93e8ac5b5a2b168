// WinINet's synchronous client as the probes use it: sessions, URL handles and reading, and
// FTP connections with uploads and deletion.
//
// Reproduced from WinINet: InternetOpenUrlA sends the request and returns once the response
// headers are in, positioned at the body; redirects are followed; the body is delivered whatever
// the status code; nothing is served from or written to a cache (there is none); the schemes are
// http, https and ftp; the proxy is the one configured for the process (the usual *_proxy
// variables). With INTERNET_FLAG_NO_AUTO_REDIRECT a redirect is not followed: its response is
// the one delivered. HttpQueryInfoA answers the final response's status code, Content-Length
// and Location.
//
// Time-outs, set with InternetSetOptionA on a handle and taken over by the handles opened below
// it (60 s each unless set, WinINet's defaults): a connection that cannot be made within the
// connect time-out fails; an HTTP response that stalls for the receive time-out fails; an FTP
// server that does not answer a command within the receive time-out fails it, as does one that
// does not connect back for an active transfer within the connect time-out; an upload whose
// bytes cannot move for the send time-out fails. 0 or 0xFFFFFFFF means no limit.
//
// HTTP requests, as WinINet makes them: InternetConnectA with the HTTP service makes no
// connection (the request does), HttpOpenRequestA prepares a request for a path on it, and
// HttpSendRequestExA sends its headers with the length of the body to come, which
// InternetWriteFile then gives and HttpEndRequestA ends, returning once the response's headers
// are in; InternetReadFile and HttpQueryInfoA then read the response. The requests of a session
// share its connections: one the server keeps open serves the next request. Redirects of a
// request are not followed.
//
// FTP, as WinINet does it: InternetConnectA logs in (anonymously without a user name) and
// returns once logged in; closing its session handle from another thread makes it fail at once
// with ERROR_INTERNET_OPERATION_CANCELLED. Transfers are binary, and active (the server
// connects back to the address of the control connection) unless INTERNET_FLAG_PASSIVE is
// given. FtpOpenFileA opens a remote file for writing only, and returns once the server has
// accepted it; InternetWriteFile returns once the bytes are on their way, and fails when the
// transfer has broken; closing the file handle completes the upload. While a file is open, its
// connection can do nothing else (ERROR_FTP_TRANSFER_IN_PROGRESS). Everything on a connection
// uses the same control connection while the server keeps it, and after a transfer broke
// (libcurl does not reuse a control connection then), the next operation logs in again. Only the
// FTP service connects; remote names with line breaks are refused, as they would end the command
// they are sent in.
#ifndef TELVARIO_PLATFORM_POSIX_WININET_H
#define TELVARIO_PLATFORM_POSIX_WININET_H

#include "windows_types.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;
constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
constexpr DWORD INTERNET_SERVICE_FTP = 1;
constexpr DWORD INTERNET_SERVICE_HTTP = 3;
constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
constexpr DWORD FTP_TRANSFER_TYPE_UNKNOWN = 0;
constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 1;
constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 2;
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;

constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;

constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
// Process-wide (a null handle): this layer keeps no limit of connections per server, answers
// with none (0xFFFFFFFF), and takes a value without effect.
constexpr DWORD INTERNET_OPTION_MAX_CONNS_PER_SERVER = 73;
constexpr DWORD INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER = 74;

constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_LOCATION = 33;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003;
constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_BAD_OPTION_LENGTH = 12010;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass,
                        DWORD flags);
HINTERNET InternetOpenUrlA(HINTERNET session, LPCSTR url, LPCSTR headers, DWORD headersLength,
                           DWORD flags, DWORD_PTR context);
BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead);
// As InternetReadFile, but the bytes are dropped as they come, never copied: a transfer that is
// measured by its count alone.
BOOL DiscardInternetData(HINTERNET file, DWORD most, DWORD* discarded);
BOOL InternetCloseHandle(HINTERNET handle);
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length);
BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD* length);
BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, DWORD* length, DWORD* index);

// A request's headers and the length of the body to come (HttpSendRequestExA).
struct INTERNET_BUFFERSA {
  DWORD dwStructSize;
  INTERNET_BUFFERSA* Next;
  LPCSTR lpcszHeader;
  DWORD dwHeadersLength;
  DWORD dwHeadersTotal;
  void* lpvBuffer;
  DWORD dwBufferLength;
  DWORD dwBufferTotal;
  DWORD dwOffsetLow;
  DWORD dwOffsetHigh;
};

HINTERNET HttpOpenRequestA(HINTERNET connection, LPCSTR verb, LPCSTR objectName, LPCSTR version,
                           LPCSTR referrer, LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context);
// Without a body of its own: `optional` must be null (anything else: ERROR_NOT_SUPPORTED).
BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength);
BOOL HttpSendRequestExA(HINTERNET request, INTERNET_BUFFERSA* buffersIn,
                        INTERNET_BUFFERSA* buffersOut, DWORD flags, DWORD_PTR context);
BOOL HttpEndRequestA(HINTERNET request, INTERNET_BUFFERSA* buffersOut, DWORD flags,
                     DWORD_PTR context);

HINTERNET InternetConnectA(HINTERNET session, LPCSTR serverName, INTERNET_PORT port,
                           LPCSTR userName, LPCSTR password, DWORD service, DWORD flags,
                           DWORD_PTR context);
HINTERNET FtpOpenFileA(HINTERNET connection, LPCSTR fileName, DWORD access, DWORD flags,
                       DWORD_PTR context);
BOOL InternetWriteFile(HINTERNET file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);
BOOL FtpDeleteFileA(HINTERNET connection, LPCSTR fileName);

#endif
