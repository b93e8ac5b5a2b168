// DllRegisterServer and DllUnregisterServer as a registration host calls them: both classes'
// keys and values, their ProgIDs and their type libraries, written and removed again.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "dispatch_test_support.h"

namespace {

namespace fs = std::filesystem;
using telvario::testing::kThisSyskind;

using RegisterFn = HRESULT(STDAPICALLTYPE*)();

constexpr char kClassKey[] = "CLSID\\{7F3A2C1E-5B9E-4D62-8A47-C1E0B59D3F21}";
constexpr char kClassId[] = "{7F3A2C1E-5B9E-4D62-8A47-C1E0B59D3F21}";

// The default value (name null) or a named value of a key below HKEY_CLASSES_ROOT; "<none>"
// when the key or value is missing.
std::string Read(const std::string& key, const char* name = nullptr) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return "<none>";
  }
  char value[2048] = {};
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  const LONG status =
      RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS) return "<none>";
  return type == REG_SZ ? std::string(value) : "<not a string>";
}

bool KeyExists(const std::string& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(opened);
  return true;
}

bool TypeLibRegistered(const GUID& libid = LIBID_TELVARIOLib) {
  ITypeLib* library = nullptr;
  if (FAILED(LoadRegTypeLib(libid, 1, 0, 0, &library))) return false;
  library->Release();
  return true;
}

constexpr char kSonde2Key[] = "CLSID\\{7F3A2C2E-5B9E-4D62-8A47-C1E0B59D3F21}";
constexpr char kSonde2Id[] = "{7F3A2C2E-5B9E-4D62-8A47-C1E0B59D3F21}";

// The library loaded from a file, and freed again when the test ends: a loaded module's file
// cannot be deleted, nor the folder that holds it.
struct Module {
  explicit Module(const std::string& file) : handle(LoadLibraryA(file.c_str())) {
    if (handle == nullptr) return;
    registerServer = reinterpret_cast<RegisterFn>(
        reinterpret_cast<void*>(GetProcAddress(handle, "DllRegisterServer")));
    unregisterServer = reinterpret_cast<RegisterFn>(
        reinterpret_cast<void*>(GetProcAddress(handle, "DllUnregisterServer")));
    char buffer[MAX_PATH + 1] = {};
    GetModuleFileNameA(handle, buffer, MAX_PATH);
    path = buffer;
  }
  ~Module() {
    if (handle != nullptr) FreeLibrary(handle);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  HMODULE handle;
  RegisterFn registerServer = nullptr;
  RegisterFn unregisterServer = nullptr;
  std::string path;
};

// The full table of keys and values that registration writes.
void ExpectRegistered(const std::string& modulePath) {
  const std::string cls = kClassKey;
  EXPECT_EQ(Read("Telvario.Sonde.1"), "Sonde Class");
  EXPECT_EQ(Read("Telvario.Sonde.1\\CLSID"), kClassId);
  EXPECT_EQ(Read("Telvario.Sonde"), "Sonde Class");
  EXPECT_EQ(Read("Telvario.Sonde\\CLSID"), kClassId);
  EXPECT_EQ(Read("Telvario.Sonde\\CurVer"), "Telvario.Sonde.1");
  EXPECT_EQ(Read(cls), "Sonde Class");
  EXPECT_EQ(Read(cls + "\\ProgID"), "Telvario.Sonde.1");
  EXPECT_EQ(Read(cls + "\\VersionIndependentProgID"), "Telvario.Sonde");
  EXPECT_TRUE(KeyExists(cls + "\\Programmable"));
  EXPECT_EQ(Read(cls + "\\InprocServer32"), modulePath);
  EXPECT_EQ(Read(cls + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Read(cls + "\\TypeLib"), "{7F3A2C11-5B9E-4D62-8A47-C1E0B59D3F21}");
  EXPECT_TRUE(TypeLibRegistered());
  EXPECT_EQ(Read("Interface\\{7F3A2C1D-5B9E-4D62-8A47-C1E0B59D3F21}"), "ISonde");

  // Sonde2 beside it, with a library of its own.
  const std::string cls2 = kSonde2Key;
  EXPECT_EQ(Read("Telvario.Sonde2.1\\CLSID"), kSonde2Id);
  EXPECT_EQ(Read("Telvario.Sonde2\\CLSID"), kSonde2Id);
  EXPECT_EQ(Read("Telvario.Sonde2\\CurVer"), "Telvario.Sonde2.1");
  EXPECT_EQ(Read(cls2), "Sonde2 Class");
  EXPECT_EQ(Read(cls2 + "\\ProgID"), "Telvario.Sonde2.1");
  EXPECT_EQ(Read(cls2 + "\\VersionIndependentProgID"), "Telvario.Sonde2");
  EXPECT_EQ(Read(cls2 + "\\InprocServer32"), modulePath);
  EXPECT_EQ(Read(cls2 + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Read(cls2 + "\\TypeLib"), "{7F3A2C21-5B9E-4D62-8A47-C1E0B59D3F21}");
  EXPECT_TRUE(TypeLibRegistered(LIBID_TELVARIO2Lib));
  EXPECT_EQ(Read("Interface\\{7F3A2C2D-5B9E-4D62-8A47-C1E0B59D3F21}"), "ISonde2");
}

void ExpectUnregistered() {
  for (const char* key :
       {"Telvario.Sonde", "Telvario.Sonde.1", "Telvario.Sonde2", "Telvario.Sonde2.1", kClassKey,
        kSonde2Key, "Interface\\{7F3A2C1D-5B9E-4D62-8A47-C1E0B59D3F21}",
        "Interface\\{7F3A2C2D-5B9E-4D62-8A47-C1E0B59D3F21}",
        "TypeLib\\{7F3A2C11-5B9E-4D62-8A47-C1E0B59D3F21}",
        "TypeLib\\{7F3A2C21-5B9E-4D62-8A47-C1E0B59D3F21}"}) {
    EXPECT_FALSE(KeyExists(key)) << key;
  }
  EXPECT_TRUE(KeyExists("CLSID"));
  EXPECT_FALSE(TypeLibRegistered());
  EXPECT_FALSE(TypeLibRegistered(LIBID_TELVARIO2Lib));
}

TEST(Registration, RegisterTwiceThenUnregister) {
  Module module(TELVARIO_MODULE_PATH);
  ASSERT_NE(module.registerServer, nullptr);
  ASSERT_EQ(module.registerServer(), S_OK);
  // The class key is replaced whole on registering: what was planted under it goes.
  HKEY planted = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\Planted").c_str(), 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &planted, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(planted);
  ASSERT_EQ(module.registerServer(), S_OK);
  EXPECT_FALSE(KeyExists(std::string(kClassKey) + "\\Planted"));
  ExpectRegistered(module.path);
  ASSERT_EQ(module.unregisterServer(), S_OK);
  ExpectUnregistered();
  // Nothing left to remove: the script finds every key absent, and the result is the type
  // library's part's, what the system answers for a library that is not registered.
  const HRESULT notRegistered = UnRegisterTypeLib(LIBID_TELVARIOLib, 1, 0, 0, kThisSyskind);
  EXPECT_TRUE(FAILED(notRegistered));
  EXPECT_EQ(module.unregisterServer(), notRegistered);
  ExpectUnregistered();
}

TEST(Registration, CreatedByProgIdThroughTheRegistry) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  Module module(TELVARIO_MODULE_PATH);
  ASSERT_EQ(module.registerServer(), S_OK);
  struct Expected {
    const OLECHAR* progId;
    const CLSID* clsid;
  };
  for (const Expected& expected : {Expected{OLESTR("Telvario.Sonde"), &CLSID_Sonde},
                                   {OLESTR("Telvario.Sonde.1"), &CLSID_Sonde},
                                   {OLESTR("Telvario.Sonde2"), &CLSID_Sonde2},
                                   {OLESTR("Telvario.Sonde2.1"), &CLSID_Sonde2}}) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(expected.progId, &clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, *expected.clsid));
    IDispatch* sonde = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&sonde)),
              S_OK);
    // ISonde's names on both, with their DISPIDs; Sonde2's own only on Sonde2.
    OLECHAR pingReps[] = OLESTR("PingReps");
    OLECHAR probes[] = OLESTR("Probes");
    LPOLESTR names[] = {pingReps};
    DISPID dispid = 0;
    EXPECT_EQ(sonde->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid), S_OK);
    EXPECT_EQ(dispid, 5);
    names[0] = probes;
    const bool second = IsEqualGUID(clsid, CLSID_Sonde2);
    EXPECT_EQ(sonde->GetIDsOfNames(IID_NULL, names, 1, 0, &dispid),
              second ? S_OK : DISP_E_UNKNOWNNAME);
    if (second) {
      EXPECT_EQ(dispid, 100);
    }
    IUnknown* sonde2 = nullptr;
    EXPECT_EQ(sonde->QueryInterface(IID_ISonde2, reinterpret_cast<void**>(&sonde2)),
              second ? S_OK : E_NOINTERFACE);
    if (sonde2 != nullptr) sonde2->Release();
    sonde->Release();
  }
  ASSERT_EQ(module.unregisterServer(), S_OK);
  CoUninitialize();
}

// A folder of this process's own for copies of the module, removed with what is in it when the
// test ends, however it ends.
class OwnFolder {
 public:
  OwnFolder()
      : path_(fs::temp_directory_path() / ("telvario-" + std::to_string(GetCurrentProcessId()))) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ~OwnFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  OwnFolder(const OwnFolder&) = delete;
  OwnFolder& operator=(const OwnFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// A file at the far end of a chain of folders deeper than MAX_PATH, removed with its folders from
// that end when the test ends: the C runtime lists no folder so deep, so remove_all cannot.
class DeepFile {
 public:
  DeepFile(fs::path top, fs::path file) : top_(std::move(top)), file_(std::move(file)) {}
  ~DeepFile() {
    std::error_code ignored;
    fs::remove(file_, ignored);
    for (fs::path level = file_.parent_path(); level != top_ && level.has_relative_path();
         level = level.parent_path()) {
      fs::remove(level, ignored);
    }
  }
  DeepFile(const DeepFile&) = delete;
  DeepFile& operator=(const DeepFile&) = delete;

 private:
  fs::path top_;
  fs::path file_;
};

// A copy of the module at a path of the test's choosing.
std::string CopyModuleTo(const fs::path& directory) {
  fs::create_directories(directory);
  Module original(TELVARIO_MODULE_PATH);
  const fs::path target = directory / fs::path(original.path).filename();
  fs::copy_file(original.path, target, fs::copy_options::overwrite_existing);
  return target.string();
}

TEST(Registration, PathWithAQuoteIsStoredExactly) {
  const OwnFolder own;
  const fs::path directory = own.Path() / "telvario it's here";
  Module module(CopyModuleTo(directory));
  ASSERT_NE(module.registerServer, nullptr);
  ASSERT_EQ(module.registerServer(), S_OK);
  EXPECT_EQ(Read(std::string(kClassKey) + "\\InprocServer32"), module.path);
  EXPECT_NE(module.path.find('\''), std::string::npos);
  EXPECT_EQ(module.unregisterServer(), S_OK);
  ExpectUnregistered();
}

TEST(Registration, PathTooLongForTheBufferRegistersNothing) {
  const OwnFolder own;
  fs::path directory = own.Path() / "telvario-long";
  while (directory.string().size() < MAX_PATH) directory /= std::string(40, 'd');
  const DeepFile copy(own.Path(), directory / fs::path(TELVARIO_MODULE_PATH).filename());
  Module module(CopyModuleTo(directory));
  if (module.registerServer == nullptr) GTEST_SKIP() << "the system does not load from so deep";
  EXPECT_EQ(module.registerServer(), static_cast<HRESULT>(0x8007007A));
  EXPECT_FALSE(KeyExists("Telvario.Sonde"));
  EXPECT_FALSE(TypeLibRegistered());  // the script's failure ends registration before it
}

}  // namespace
