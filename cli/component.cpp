#include "component.h"

#include <cstdio>

#include "echo_privilege.h"

namespace telvario::cli {
namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// The library beside the program, as the build leaves it, or in the library folder of the
// installation the program belongs to, or where the system's loader finds it. A program whose
// file raised its privileges loads the installed library alone: a link to it made elsewhere
// must not bring the library beside it along.
HMODULE LoadLibraryNearProgram(std::string* tried) {
  if (RaisedAtStart()) {
    *tried = TELVARIO_INSTALLED_LIBRARY;
    return LoadLibraryA(tried->c_str());
  }
  char program[4096] = {};
  const DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  std::string folder(program, length);
  const size_t slash = folder.find_last_of("/\\");
  folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
  *tried = folder + TELVARIO_LIBRARY_NAME;
  HMODULE library = LoadLibraryA(tried->c_str());
  if (library == nullptr) {
    library =
        LoadLibraryA((folder + TELVARIO_INSTALLED_LIBRARY_FOLDER TELVARIO_LIBRARY_NAME).c_str());
  }
  if (library == nullptr) library = LoadLibraryA(TELVARIO_LIBRARY_NAME);
  return library;
}

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned int>(result));
  return text;
}

}  // namespace

Component::Component(const CLSID& clsid) {
  std::string path;
  library_ = LoadLibraryNearProgram(&path);
  if (library_ == nullptr) {
    error_ = "cannot load " + path;
    return;
  }
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(library_, "DllGetClassObject")));
  if (getClassObject == nullptr) {
    error_ = path + " has no DllGetClassObject";
    return;
  }
  IClassFactory* factory = nullptr;
  HRESULT result = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (result != S_OK) {
    error_ = "DllGetClassObject failed with " + Hex(result);
    return;
  }
  result = factory->CreateInstance(nullptr, IID_ISonde, reinterpret_cast<void**>(&sonde_));
  factory->Release();
  if (result != S_OK) {
    error_ = "CreateInstance failed with " + Hex(result);
    return;
  }
  if (sonde_->QueryInterface(IID_ISonde2, reinterpret_cast<void**>(&sonde2_)) == S_OK) {
    sonde2_->Release();  // the same object: sonde_'s reference holds it
  } else {
    sonde2_ = nullptr;
  }
}

std::string ComponentVersion() {
  std::string path;
  HMODULE library = LoadLibraryNearProgram(&path);
  if (library == nullptr) return {};
  char file[4096] = {};
  const DWORD length = GetModuleFileNameA(library, file, sizeof file);
  std::string version;
  DWORD ignored = 0;
  const DWORD size = length > 0 ? GetFileVersionInfoSizeA(file, &ignored) : 0;
  if (size > 0) {
    std::string record(size, '\0');
    void* value = nullptr;
    UINT valueLength = 0;
    if (GetFileVersionInfoA(file, 0, size, record.data()) &&
        VerQueryValueA(record.data(), "\\", &value, &valueLength) &&
        valueLength >= sizeof(VS_FIXEDFILEINFO)) {
      const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
      char text[64];
      std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu",
                    static_cast<unsigned long>(fixed->dwFileVersionMS >> 16),
                    static_cast<unsigned long>(fixed->dwFileVersionMS & 0xFFFF),
                    static_cast<unsigned long>(fixed->dwFileVersionLS >> 16),
                    static_cast<unsigned long>(fixed->dwFileVersionLS & 0xFFFF));
      version = text;
    }
  }
  FreeLibrary(library);
  return version;
}

Component::~Component() {
  if (sonde_ != nullptr) sonde_->Release();
  if (library_ == nullptr) return;
  auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
      reinterpret_cast<void*>(GetProcAddress(library_, "DllCanUnloadNow")));
  if (canUnloadNow != nullptr && canUnloadNow() == S_OK) FreeLibrary(library_);
}

}  // namespace telvario::cli
