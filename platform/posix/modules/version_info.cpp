// String resources and version records, read from a module's resource table in the layout a
// resource compiler gives them: string blocks of 16 counted UTF-16 strings, and the version
// record's tree of nodes (length, value length, type, UTF-16 key, value, children), every
// node aligned to four bytes.
#include <cstring>
#include <string>

#include "kernel.h"
#include "module_resources.h"
#include "no_throw.h"
#include "registry.h"

namespace {

constexpr WORD kTextNode = 1;

size_t Align4(size_t offset) {
  return (offset + 3) & ~static_cast<size_t>(3);
}

WORD ReadWord(const BYTE* data, size_t offset) {
  WORD value;
  std::memcpy(&value, data + offset, sizeof value);
  return value;
}

// UTF-16 text (at most count units, or up to a NUL when count is -1) as narrow text.
std::string NarrowText(const BYTE* text, int count) {
  std::u16string wide;
  for (size_t i = 0; count < 0 || i < static_cast<size_t>(count); ++i) {
    const WORD unit = ReadWord(text, i * 2);
    if (unit == 0) break;
    wide.push_back(static_cast<char16_t>(unit));
  }
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

// One node of a version record, read at `offset` of a record of `limit` bytes.
struct VersionNode {
  size_t offset = 0;
  size_t end = 0;  // past the node and its children
  WORD valueLength = 0;
  WORD type = 0;
  std::string key;
  size_t value = 0;     // where the value starts
  size_t children = 0;  // where the first child starts

  bool Read(const BYTE* record, size_t at, size_t limit) {
    if (at + 6 > limit) return false;
    offset = at;
    end = at + ReadWord(record, at);
    valueLength = ReadWord(record, at + 2);
    type = ReadWord(record, at + 4);
    if (end > limit || end < at + 6) return false;
    size_t keyEnd = at + 6;
    while (keyEnd + 2 <= end && ReadWord(record, keyEnd) != 0) keyEnd += 2;
    if (keyEnd + 2 > end) return false;
    key = NarrowText(record + at + 6, static_cast<int>((keyEnd - at - 6) / 2));
    value = Align4(keyEnd + 2);
    const size_t valueBytes =
        type == kTextNode ? static_cast<size_t>(valueLength) * 2 : valueLength;
    children = Align4(value + valueBytes);
    return value + valueBytes <= end;
  }
};

// The version record of a module file, copied out before the module is let go.
std::string ReadVersionRecord(LPCSTR fileName) {
  HMODULE module = LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    SetLastError(static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    return {};
  }
  std::string record;
  if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), RT_VERSION)) {
    record.assign(static_cast<const char*>(LockResource(LoadResource(module, found))),
                  SizeofResource(module, found));
  }
  FreeLibrary(module);
  return record;
}

}  // namespace

int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferSize) {
  return WithoutThrowing(ReportsLastError<int>{0}, [&]() -> int {
    if (buffer == nullptr || bufferSize <= 0) return 0;
    buffer[0] = '\0';
    HRSRC found =
        FindResourceA(module, MAKEINTRESOURCEA(static_cast<WORD>(id / 16 + 1)), RT_STRING);
    if (found == nullptr) return 0;
    const auto* block = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    const size_t size = SizeofResource(module, found);
    size_t at = 0;
    for (UINT index = 0; index < id % 16; ++index) {
      if (at + 2 > size) return 0;
      at += 2 + static_cast<size_t>(ReadWord(block, at)) * 2;
    }
    if (at + 2 > size) return 0;
    const WORD count = ReadWord(block, at);
    if (at + 2 + static_cast<size_t>(count) * 2 > size) return 0;
    const std::string text = NarrowText(block + at + 2, count);
    const size_t copied =
        text.size() < static_cast<size_t>(bufferSize) ? text.size() : bufferSize - 1u;
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
  });
}

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, DWORD* handle) {
  return WithoutThrowing(ReportsLastError<DWORD>{0}, [&]() -> DWORD {
    if (handle != nullptr) *handle = 0;
    const std::string record = ReadVersionRecord(fileName);
    if (record.empty()) {
      if (GetLastError() != static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return 0;
    }
    // Room after the record for the narrow copies of its texts, as Windows leaves.
    return static_cast<DWORD>(Align4(record.size()) + record.size() * 2);
  });
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD /*handle*/, DWORD size, LPVOID data) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    const std::string record = ReadVersionRecord(fileName);
    if (record.empty() || data == nullptr) {
      SetLastError(record.empty() ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    std::memset(data, 0, size);
    std::memcpy(data, record.data(), record.size() < size ? record.size() : size);
    return TRUE;
  });
}

BOOL VerQueryValueA(const void* block, LPCSTR subBlock, LPVOID* value, UINT* length) {
  return WithoutThrowing(ReportsLastError<BOOL>{FALSE}, [&]() -> BOOL {
    if (block == nullptr || subBlock == nullptr || value == nullptr) return FALSE;
    const auto* record = static_cast<const BYTE*>(block);
    const size_t limit = ReadWord(record, 0);
    VersionNode node;
    if (!node.Read(record, 0, limit)) return FALSE;
    for (const char* p = subBlock; *p != '\0';) {
      if (*p == '\\') {
        ++p;
        continue;
      }
      const char* end = std::strchr(p, '\\');
      const std::string segment(p, end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p));
      p += segment.size();
      VersionNode child;
      bool found = false;
      for (size_t at = node.children; at < node.end; at = Align4(child.end)) {
        if (!child.Read(record, at, node.end)) return FALSE;
        if (lstrcmpiA(child.key.c_str(), segment.c_str()) == 0) {
          found = true;
          break;
        }
      }
      if (!found) return FALSE;
      node = child;
    }
    if (node.type != kTextNode) {
      *value = const_cast<BYTE*>(record + node.value);
      if (length != nullptr) *length = node.valueLength;
      return TRUE;
    }
    // A text is given narrow, copied into the room after the record: at most three bytes for
    // each UTF-16 unit, so the copies of successive texts never meet.
    const std::string text = NarrowText(record + node.value, node.valueLength);
    auto* copy = const_cast<char*>(reinterpret_cast<const char*>(record)) + Align4(limit) +
                 node.value * 3 / 2;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *value = copy;
    if (length != nullptr) *length = static_cast<UINT>(text.size() + 1);
    return TRUE;
  });
}
