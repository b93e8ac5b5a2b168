// Registry scripts in both directions, against the real registry under Wine and the posix
// registry: every test works below a scratch key of HKEY_CURRENT_USER, which it removes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry_script.h"
#include "script_registrar.h"
#include "script_tokens.h"

namespace telvario {
namespace {

constexpr char kScratch[] = "Software\\TelvarioScriptTest";

// A script whose items stand inside the scratch key.
std::string InScratch(const std::string& items) {
  return "HKCU\r\n{\r\n NoRemove Software\r\n {\r\n  NoRemove TelvarioScriptTest\r\n  {\r\n" +
         items + "\r\n  }\r\n }\r\n}\r\n";
}

HRESULT RunScript(const std::string& text, bool doRegister) {
  ScriptRegistrar registrar;
  return registrar.RunText(text.c_str(), doRegister ? TRUE : FALSE);
}

// Opened below the scratch key rather than by the whole path, which may be longer than the
// narrow calls take.
bool KeyExists(const std::string& path) {
  HKEY scratch = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kScratch, 0, KEY_READ, &scratch) != ERROR_SUCCESS) {
    return false;
  }
  HKEY key = nullptr;
  const std::string below = path.empty() ? path : path.substr(1);
  const LONG opened = RegOpenKeyExA(scratch, below.c_str(), 0, KEY_READ, &key);
  RegCloseKey(scratch);
  if (opened != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The value's type and bytes; type 0 and nothing when it is missing.
std::pair<DWORD, std::vector<BYTE>> ValueOf(const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kScratch) + path).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return {};
  }
  BYTE data[512] = {};
  DWORD size = sizeof data;
  DWORD type = 0;
  const LONG result = RegQueryValueExA(key, name, nullptr, &type, data, &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return {};
  return {type, std::vector<BYTE>(data, data + size)};
}

std::vector<BYTE> Bytes(const char* text, std::size_t size) {
  return std::vector<BYTE>(text, text + size);
}

class RegistryScriptTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    HKEY software = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ | KEY_WRITE, &software) ==
        ERROR_SUCCESS) {
      DeleteKeyTree(software, "TelvarioScriptTest");
      RegCloseKey(software);
    }
  }
};

std::vector<std::string> Tokens(const char* text) {
  std::vector<std::string> tokens;
  const char* position = text;
  char token[kTokenBufferSize];
  while (SUCCEEDED(NextToken(position, token))) tokens.emplace_back(token);
  return tokens;
}

TEST(RegistryScriptTokens, QuotesAndWhiteSpace) {
  EXPECT_EQ(Tokens("'it''s'"), (std::vector<std::string>{"it's"}));
  EXPECT_EQ(Tokens("'a'b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Tokens(" x=y\t{\r\n}"), (std::vector<std::string>{"x=y", "{", "}"}));
  const char* position = " \t\r\n";
  char token[kTokenBufferSize];
  EXPECT_EQ(NextToken(position, token), DISP_E_EXCEPTION);
  position = "'open";
  EXPECT_EQ(NextToken(position, token), DISP_E_EXCEPTION);
}

TEST(RegistryScriptTokens, TokensTheBufferCannotHoldAreRefused) {
  char token[kTokenBufferSize];
  const std::string quotedFits = "'" + std::string(kMaxQuotedToken, 'q') + "'";
  const char* position = quotedFits.c_str();
  EXPECT_EQ(NextToken(position, token), S_OK);
  const std::string quotedLong = "'" + std::string(kMaxQuotedToken + 1, 'q') + "'";
  position = quotedLong.c_str();
  EXPECT_EQ(NextToken(position, token), DISP_E_EXCEPTION);
  const std::string bareFits(kTokenBufferSize - 1, 'u');
  position = bareFits.c_str();
  EXPECT_EQ(NextToken(position, token), S_OK);
  const std::string bareLong(kTokenBufferSize, 'u');
  position = bareLong.c_str();
  EXPECT_EQ(NextToken(position, token), DISP_E_EXCEPTION);
}

TEST(RegistryScriptSymbols, ExpansionRules) {
  ScriptSymbols symbols;
  ASSERT_EQ(symbols.Add(OLESTR("Module"), OLESTR("C:\\dir\\Telvario.DLL")), S_OK);
  ASSERT_EQ(symbols.Add(OLESTR("MODULE"), OLESTR("second")), S_OK);
  ExpandedText out;
  ASSERT_EQ(ExpandSymbols("100%% at %module%.", symbols, &out), S_OK);
  EXPECT_STREQ(out.Data(), "100% at C:\\dir\\Telvario.DLL.");
  ExpandedText unknown;
  EXPECT_EQ(ExpandSymbols("%NOSUCH%", symbols, &unknown), DISP_E_EXCEPTION);
  ExpandedText unclosed;
  EXPECT_EQ(ExpandSymbols("50% off", symbols, &unclosed), DISP_E_EXCEPTION);
  ExpandedText tooLong;
  EXPECT_EQ(ExpandSymbols(("%" + std::string(32, 'N') + "%").c_str(), symbols, &tooLong), E_FAIL);
  ASSERT_EQ(symbols.Add(std::basic_string<OLECHAR>(31, OLECHAR{'N'}).c_str(), OLESTR("fits")),
            S_OK);
  ExpandedText longest;
  EXPECT_EQ(ExpandSymbols(("%" + std::string(31, 'n') + "%").c_str(), symbols, &longest), S_OK);
  EXPECT_STREQ(longest.Data(), "fits");
  ScriptRegistrar registrar;
  EXPECT_EQ(registrar.SetSymbol(nullptr, OLESTR("x")), E_INVALIDARG);
  EXPECT_EQ(registrar.SetSymbol(OLESTR("x"), nullptr), E_INVALIDARG);
}

TEST_F(RegistryScriptTest, ScriptsThatAreNotScripts) {
  EXPECT_EQ(RunScript("", true), S_OK);
  EXPECT_EQ(RunScript(" \r\n\t", true), DISP_E_EXCEPTION);
  EXPECT_EQ(RunScript("HKUS\r\n{\r\n}\r\n", true), DISP_E_EXCEPTION);
  EXPECT_EQ(RunScript("HKU\r\n{\r\n}\r\n", true), S_OK);
  EXPECT_EQ(RunScript("HKCU\r\n(\r\n}\r\n", true), DISP_E_EXCEPTION);
  EXPECT_EQ(RunScript("HKCU { NoRemove Software { NoRemove TelvarioScriptTest { A }", true),
            DISP_E_EXCEPTION);
  EXPECT_EQ(RunScript(InScratch("a\\b"), true), DISP_E_EXCEPTION);
  // Nesting deeper than any real script is refused, not followed into a stack overflow.
  std::string deep;
  for (int i = 0; i < 600; ++i) deep += "K {\r\n";
  for (int i = 0; i < 600; ++i) deep += "}\r\n";
  EXPECT_EQ(RunScript("HKCU\r\n{\r\n" + deep + "}\r\n", false), DISP_E_EXCEPTION);
}

TEST_F(RegistryScriptTest, EveryValueType) {
  ASSERT_EQ(RunScript(InScratch("Values = s 'default'\r\n{\r\n"
                                "val S = s ''\r\nval D = d '42'\r\nval B = b '0A1b'\r\n"
                                "val Empty = B ''\r\nval M = m 'one\\0two\\0'\r\n}"),
                      true),
            S_OK);
  EXPECT_EQ(ValueOf("\\Values", nullptr), std::make_pair(DWORD{REG_SZ}, Bytes("default", 8)));
  EXPECT_EQ(ValueOf("\\Values", "S"), std::make_pair(DWORD{REG_SZ}, Bytes("", 1)));
  const DWORD fortyTwo = 42;
  EXPECT_EQ(ValueOf("\\Values", "D"),
            std::make_pair(DWORD{REG_DWORD},
                           Bytes(reinterpret_cast<const char*>(&fortyTwo), sizeof fortyTwo)));
  EXPECT_EQ(ValueOf("\\Values", "B"), std::make_pair(DWORD{REG_BINARY}, Bytes("\x0A\x1B", 2)));
  EXPECT_EQ(ValueOf("\\Values", "Empty"), std::make_pair(DWORD{REG_BINARY}, Bytes("", 0)));
  EXPECT_EQ(ValueOf("\\Values", "M"), std::make_pair(DWORD{REG_MULTI_SZ}, Bytes("one\0two\0", 9)));
  EXPECT_EQ(RunScript(InScratch("Odd { val B = b 'abc' }"), true), E_FAIL);
  EXPECT_EQ(RunScript(InScratch("Bad { val V = x 'y' }"), true), DISP_E_EXCEPTION);
  EXPECT_EQ(RunScript(InScratch("NoEquals { val V s 'y' }"), true), DISP_E_EXCEPTION);
}

TEST_F(RegistryScriptTest, NamesWithoutBlanksAreOneToken) {
  ASSERT_EQ(RunScript(InScratch("CLSID=s 'x'"), true), S_OK);
  EXPECT_TRUE(KeyExists("\\CLSID=s"));
  EXPECT_TRUE(KeyExists("\\x"));
}

TEST_F(RegistryScriptTest, ForceRemoveAndDelete) {
  ASSERT_EQ(RunScript(InScratch("X { Old }\r\nCLSID { Old }\r\nGone { Child }"), true), S_OK);
  ASSERT_EQ(RunScript(InScratch("ForceRemove X { New }\r\nForceRemove CLSID { New }\r\n"
                                "Delete Gone = s 'ignored'"),
                      true),
            S_OK);
  EXPECT_FALSE(KeyExists("\\X\\Old"));
  EXPECT_TRUE(KeyExists("\\X\\New"));
  EXPECT_TRUE(KeyExists("\\CLSID\\Old"));  // a protected name is never removed by force
  EXPECT_TRUE(KeyExists("\\CLSID\\New"));
  EXPECT_FALSE(KeyExists("\\Gone"));
}

TEST_F(RegistryScriptTest, UnregisterKeepsWhatIsMarkedNoRemove) {
  const std::string script = InScratch(
      "Kept = s 'k'\r\n{\r\nval Gone = s 'g'\r\n}\r\n"
      "NoRemove Shell\r\n{\r\nInner = s 'i'\r\nval Dropped = s 'd'\r\n"
      "NoRemove val Stays = s 's'\r\n}\r\nPlain");
  ASSERT_EQ(RunScript(script, true), S_OK);
  ASSERT_EQ(RunScript(script, false), S_OK);
  EXPECT_FALSE(KeyExists("\\Kept"));
  EXPECT_TRUE(KeyExists("\\Shell"));
  EXPECT_FALSE(KeyExists("\\Shell\\Inner"));
  EXPECT_FALSE(KeyExists("\\Plain"));
  // Values of a key that stays: the marked one with it, the other removed.
  EXPECT_EQ(ValueOf("\\Shell", "Stays"), std::make_pair(DWORD{REG_SZ}, Bytes("s", 2)));
  EXPECT_EQ(ValueOf("\\Shell", "Dropped").first, 0u);
  // Unregistering again, with nothing left to delete, is no failure.
  EXPECT_EQ(RunScript(script, false), S_OK);
}

// A name longer than a key's may be can name no key: not even one whose name it begins with.
TEST_F(RegistryScriptTest, NamesTooLongForAKeyReachNoOtherKey) {
  const std::string longest(255, 'k');
  const std::string longer = longest + std::string(45, 'k');
  ASSERT_EQ(RunScript(InScratch(longest), true), S_OK);
  EXPECT_TRUE(FAILED(RunScript(InScratch(longer), true)));
  EXPECT_TRUE(FAILED(RunScript(InScratch(longer), false)));
  EXPECT_TRUE(FAILED(RunScript(InScratch("ForceRemove " + longer), true)));
  EXPECT_TRUE(KeyExists("\\" + longest));
  ASSERT_EQ(RunScript(InScratch(longest), false), S_OK);
  EXPECT_FALSE(KeyExists("\\" + longest));
}

TEST_F(RegistryScriptTest, UnregisterStopsAtAKeyWithOtherSubkeys) {
  ASSERT_EQ(RunScript(InScratch("Parent { Named }"), true), S_OK);
  ASSERT_EQ(RunScript(InScratch("Parent { Named\r\nUnnamed }"), true), S_OK);
  EXPECT_TRUE(FAILED(RunScript(InScratch("Parent { Named }"), false)));
  EXPECT_TRUE(KeyExists("\\Parent\\Unnamed"));
  EXPECT_FALSE(KeyExists("\\Parent\\Named"));
}

TEST_F(RegistryScriptTest, FailureOnTheLastItemUndoesTheRootBlock) {
  ASSERT_EQ(RunScript(InScratch("Before = s 'b'"), true), S_OK);
  const HRESULT hr = RunScript(InScratch("First = s '1'\r\n{\r\nval V = d '7'\r\n}\r\n"
                                         "NoRemove Guarded\r\nBefore = s 'again'\r\nLast = q 'x'"),
                               true);
  EXPECT_EQ(hr, DISP_E_EXCEPTION);
  EXPECT_FALSE(KeyExists("\\First"));
  EXPECT_TRUE(KeyExists("\\Guarded"));
  EXPECT_FALSE(KeyExists("\\Before"));  // named in the failing block: undone like the rest
  EXPECT_TRUE(KeyExists(""));           // the NoRemove scratch key itself stays
}

TEST(RegistryScriptResource, TheLibrarysOwnScriptBothWays) {
  char path[MAX_PATH + 1] = {};
  const HMODULE module = LoadLibraryA(TELVARIO_MODULE_PATH);
  ASSERT_NE(module, nullptr);
  GetModuleFileNameA(module, path, MAX_PATH);
  OLECHAR widePath[MAX_PATH + 1] = {};
  MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath, MAX_PATH + 1);
  ScriptRegistrar registrar;
  ASSERT_EQ(registrar.SetSymbol(OLESTR("MODULE"), widePath), S_OK);
  ASSERT_EQ(registrar.RunResource(widePath, 101, OLESTR("REGISTRY"), TRUE), S_OK);

  auto read = [](const char* key, const char* name) {
    HKEY opened = nullptr;
    std::string text;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened) == ERROR_SUCCESS) {
      char value[1024] = {};
      DWORD size = sizeof value - 1;
      if (RegQueryValueExA(opened, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
          ERROR_SUCCESS) {
        text = value;
      }
      RegCloseKey(opened);
    }
    return text;
  };
  const char* clsidKey = "CLSID\\{7F3A2C1E-5B9E-4D62-8A47-C1E0B59D3F21}";
  EXPECT_EQ(read("Telvario.Sonde", nullptr), "Sonde Class");
  EXPECT_EQ(read("Telvario.Sonde\\CurVer", nullptr), "Telvario.Sonde.1");
  EXPECT_EQ(read("Telvario.Sonde.1\\CLSID", nullptr), "{7F3A2C1E-5B9E-4D62-8A47-C1E0B59D3F21}");
  EXPECT_EQ(read(clsidKey, nullptr), "Sonde Class");
  EXPECT_EQ(read((std::string(clsidKey) + "\\InprocServer32").c_str(), nullptr), path);
  EXPECT_EQ(read((std::string(clsidKey) + "\\InprocServer32").c_str(), "ThreadingModel"),
            "Apartment");
  EXPECT_EQ(read((std::string(clsidKey) + "\\TypeLib").c_str(), nullptr),
            "{7F3A2C11-5B9E-4D62-8A47-C1E0B59D3F21}");
  HKEY programmable = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, (std::string(clsidKey) + "\\Programmable").c_str(), 0,
                          KEY_READ, &programmable),
            ERROR_SUCCESS);
  RegCloseKey(programmable);

  ASSERT_EQ(registrar.RunResource(widePath, 101, OLESTR("REGISTRY"), FALSE), S_OK);
  EXPECT_EQ(read("Telvario.Sonde", nullptr), "");
  EXPECT_EQ(read(clsidKey, nullptr), "");
  HKEY clsid = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &clsid), ERROR_SUCCESS);
  if (clsid != nullptr) RegCloseKey(clsid);
  EXPECT_NE(registrar.RunResource(widePath, 999, OLESTR("REGISTRY"), TRUE), S_OK);
}

}  // namespace
}  // namespace telvario
