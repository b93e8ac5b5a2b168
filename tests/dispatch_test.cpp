// The object reached late-bound, as scripts reach it: type information, names to DISPIDs and
// Invoke with the argument types and counts a script engine passes, right and wrong.
#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "dispatch_test_support.h"

namespace {

using telvario::testing::Narrow;
using telvario::testing::RegisterModuleTypeLib;
using telvario::testing::SetDouble;
using telvario::testing::SetLong;
using telvario::testing::SetShort;
using telvario::testing::SetText;
using telvario::testing::UnregisterTypeLib;
using telvario::testing::Value;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryA(TELVARIO_MODULE_PATH);
    ASSERT_NE(module_, nullptr);
    ASSERT_EQ(RegisterModuleTypeLib(module_), S_OK);
    sonde_ = NewDispatch();
    ASSERT_NE(sonde_, nullptr);
  }
  void TearDown() override {
    if (sonde_ != nullptr) sonde_->Release();
    UnregisterTypeLib();  // under Wine the registry outlives the test
  }

  IDispatch* NewDispatch() {
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (getClassObject(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&factory)) !=
        S_OK) {
      return nullptr;
    }
    IDispatch* object = nullptr;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
    factory->Release();
    return object;
  }

  HRESULT Names(std::vector<const char*> names, std::vector<DISPID>* dispids) {
    std::vector<std::basic_string<OLECHAR>> wide;
    std::vector<LPOLESTR> pointers;
    for (const char* name : names)
      wide.emplace_back(name, name + std::char_traits<char>::length(name));
    for (auto& name : wide) pointers.push_back(name.data());
    dispids->assign(names.size(), 12345);
    return sonde_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()), 0,
                                 dispids->data());
  }

  DISPID Id(const char* name) {
    std::vector<DISPID> ids;
    EXPECT_EQ(Names({name}, &ids), S_OK) << name;
    return ids[0];
  }

  // Arguments in the order a script writes them; they are passed last-first, as Invoke wants.
  HRESULT Call(const char* name, WORD flags, std::vector<VARIANT> args, VARIANT* result,
               UINT* argumentError = nullptr, EXCEPINFO* exception = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags == DISPATCH_PROPERTYPUT) {
      params.rgdispidNamedArgs = &put;
      params.cNamedArgs = 1;
    }
    UINT error = 0;
    EXCEPINFO ignored{};
    const HRESULT hr = sonde_->Invoke(Id(name), IID_NULL, 0, flags, &params, result,
                                      exception != nullptr ? exception : &ignored,
                                      argumentError != nullptr ? argumentError : &error);
    for (VARIANT& arg : args) VariantClear(&arg);
    return hr;
  }

  static VARIANT Short(SHORT value) {
    VARIANT v;
    VariantInit(&v);
    SetShort(v, value);
    return v;
  }
  static VARIANT Long(LONG value) {
    VARIANT v;
    VariantInit(&v);
    SetLong(v, value);
    return v;
  }
  static VARIANT Double(double value) {
    VARIANT v;
    VariantInit(&v);
    SetDouble(v, value);
    return v;
  }
  static VARIANT Text(const char* text) {
    VARIANT v;
    VariantInit(&v);
    SetText(v, text);
    return v;
  }

  static constexpr WORD kGet = DISPATCH_PROPERTYGET;
  static constexpr WORD kScriptGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  static constexpr WORD kPut = DISPATCH_PROPERTYPUT;

  HMODULE module_ = nullptr;
  IDispatch* sonde_ = nullptr;
};

TEST_F(DispatchTest, OneTypeInformationWhateverTheIndex) {
  UINT count = 0;
  ASSERT_EQ(sonde_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* first = nullptr;
  ITypeInfo* fifth = nullptr;
  ASSERT_EQ(sonde_->GetTypeInfo(0, 0, &first), S_OK);
  ASSERT_EQ(sonde_->GetTypeInfo(5, 0, &fifth), S_OK);
  EXPECT_EQ(first, fifth);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(first->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_ISonde));
  first->ReleaseTypeAttr(attributes);
  first->Release();
  fifth->Release();
  EXPECT_EQ(sonde_->GetTypeInfo(0, 0, nullptr), E_POINTER);
}

TEST_F(DispatchTest, TwoObjectsShareOneLoad) {
  IDispatch* other = NewDispatch();
  ASSERT_NE(other, nullptr);
  ITypeInfo* mine = nullptr;
  ITypeInfo* theirs = nullptr;
  ASSERT_EQ(sonde_->GetTypeInfo(0, 0, &mine), S_OK);
  ASSERT_EQ(other->GetTypeInfo(0, 0, &theirs), S_OK);
  EXPECT_EQ(mine, theirs);
  mine->Release();
  theirs->Release();
  other->Release();
}

TEST_F(DispatchTest, ConcurrentFirstLookupsShareOneLoad) {
  std::array<IDispatch*, 4> objects{};
  for (IDispatch*& object : objects) object = NewDispatch();
  std::array<DISPID, 4> ids{};
  std::array<ITypeInfo*, 4> infos{};
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    threads.emplace_back([&, i] {
      OLECHAR name[] = OLESTR("Sleep");
      LPOLESTR names[] = {name};
      objects[i]->GetIDsOfNames(IID_NULL, names, 1, 0, &ids[i]);
      objects[i]->GetTypeInfo(0, 0, &infos[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < objects.size(); ++i) {
    EXPECT_EQ(ids[i], 15);
    EXPECT_EQ(infos[i], infos[0]);
    if (infos[i] != nullptr) infos[i]->Release();
    objects[i]->Release();
  }
}

TEST_F(DispatchTest, NamesToDispids) {
  EXPECT_EQ(Id("PingTime"), 3);
  EXPECT_EQ(Id("Sleep"), 15);
  EXPECT_EQ(Id("UploadTest"), 16);
  EXPECT_EQ(Id("PacketSize"), 4);
  EXPECT_EQ(Id("pingtime"), 3);  // not in the table as written: the type information's answer
  std::vector<DISPID> ids;
  EXPECT_EQ(Names({"TraceRouteTime", "Hop"}, &ids), S_OK);
  EXPECT_EQ(ids, (std::vector<DISPID>{8, 1}));
  EXPECT_EQ(Names({"NoSuchMember"}, &ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(Names({"RTT", "nonsense"}, &ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 14);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(DispatchTest, PropertiesRoundTripWithTheTypesScriptsPass) {
  Value result;
  ASSERT_EQ(Call("PacketSize", kPut, {Short(100)}, nullptr), S_OK);
  ASSERT_EQ(Call("PacketSize", kScriptGet, {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_I2);
  EXPECT_EQ(result.iVal, 100);
  // A string where a number is wanted, a double rounded half to even, a long that fits.
  ASSERT_EQ(Call("PingReps", kPut, {Text(" 7 ")}, nullptr), S_OK);
  ASSERT_EQ(Call("PingReps", kGet, {}, &result), S_OK);
  EXPECT_EQ(result.iVal, 7);
  ASSERT_EQ(Call("PingReps", kPut, {Double(2.5)}, nullptr), S_OK);
  ASSERT_EQ(Call("PingReps", kGet, {}, &result), S_OK);
  EXPECT_EQ(result.iVal, 2);
  ASSERT_EQ(Call("PingReps", kPut, {Long(3)}, nullptr), S_OK);
  ASSERT_EQ(Call("PingReps", kGet, {}, &result), S_OK);
  EXPECT_EQ(result.iVal, 3);
  // A value the property does not take gives its default, not an error.
  ASSERT_EQ(Call("PacketSize", kPut, {Short(5000)}, nullptr), S_OK);
  ASSERT_EQ(Call("PacketSize", kGet, {}, &result), S_OK);
  EXPECT_EQ(result.iVal, 32);
}

TEST_F(DispatchTest, EveryMemberAnswersWithItsType) {
  struct Expect {
    const char* name;
    std::vector<VARIANT> args;
    VARTYPE type;
  };
  std::vector<Expect> calls;
  calls.push_back({"NGoodPings", {}, VT_I2});
  calls.push_back({"ReplyIP", {}, VT_BSTR});
  calls.push_back({"DataRead", {}, VT_I4});
  calls.push_back({"ElapsedTime", {}, VT_R8});
  calls.push_back({"DHCPServer", {}, VT_BSTR});
  calls.push_back({"is_DNS_OK", {}, VT_I4});
  calls.push_back({"RTT", {Short(0)}, VT_I2});
  calls.push_back({"Addr", {Text("localhost")}, VT_BSTR});
  calls.push_back({"HostName", {Text("127.0.0.1")}, VT_BSTR});
  calls.push_back({"PingTime", {Text("127.0.0.1")}, VT_I2});
  calls.push_back({"TraceRouteTime", {Text("127.0.0.1"), Short(64)}, VT_I2});
  calls.push_back({"ReadURL", {Text("http://127.0.0.1:1/")}, VT_R4});
  for (Expect& call : calls) {
    Value result;
    EXPECT_EQ(Call(call.name, kScriptGet, call.args, &result), S_OK) << call.name;
    EXPECT_EQ(result.vt, call.type) << call.name;
  }
  Value addr;
  ASSERT_EQ(Call("Addr", kGet, {Text("localhost")}, &addr), S_OK);
  EXPECT_EQ(Narrow(addr.bstrVal), "127.0.0.1");
  Value rate;
  ASSERT_EQ(Call("ReadURL", kGet, {Text("http://127.0.0.1:1/")}, &rate), S_OK);
  EXPECT_EQ(rate.fltVal, -2.0f);  // nothing listens there
  Value slept;
  EXPECT_EQ(Call("Sleep", DISPATCH_METHOD, {Long(1)}, &slept), S_OK);
  EXPECT_EQ(slept.vt, VT_EMPTY);
}

TEST_F(DispatchTest, NamedArgumentsGoByParameterPosition) {
  std::vector<DISPID> ids;
  ASSERT_EQ(Names({"TraceRouteTime", "Hop", "Site"}, &ids), S_OK);
  // Hop first, then Site, both by name.
  std::array<VARIANT, 2> args{};
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  SetShort(args[0], 64);
  SetText(args[1], "127.0.0.1");
  std::array<DISPID, 2> named{ids[1], ids[2]};
  DISPPARAMS params{args.data(), named.data(), 2, 2};
  Value result;
  UINT error = 0;
  EXPECT_EQ(sonde_->Invoke(ids[0], IID_NULL, 0, kGet, &params, &result, nullptr, &error), S_OK);
  EXPECT_EQ(result.vt, VT_I2);
  VariantClear(&args[1]);
}

// HostName's parameter is called Addr and Addr's HostName: names of members too, which a
// script's HostName(Addr:="...") must still reach as the parameter.
TEST_F(DispatchTest, NamedArgumentsThatAreAlsoMemberNames) {
  struct Case {
    const char* member;
    const char* parameter;
    const char* argument;
    const char* answer;
  };
  for (const Case& call : {Case{"HostName", "Addr", "127.0.0.1", "localhost"},
                           Case{"Addr", "HostName", "localhost", "127.0.0.1"}}) {
    std::vector<DISPID> ids;
    ASSERT_EQ(Names({call.member, call.parameter}, &ids), S_OK);
    EXPECT_EQ(ids[1], 0) << call.member;
    VARIANT argument;
    VariantInit(&argument);
    SetText(argument, call.argument);
    DISPPARAMS params{&argument, &ids[1], 1, 1};
    Value result;
    UINT error = 0;
    EXPECT_EQ(sonde_->Invoke(ids[0], IID_NULL, 0, kScriptGet, &params, &result, nullptr, &error),
              S_OK)
        << call.member;
    EXPECT_EQ(Narrow(result.bstrVal), call.answer) << call.member;
    VariantClear(&argument);
  }
}

TEST_F(DispatchTest, WrongCountsTypesAndMembers) {
  Value result;
  EXPECT_EQ(Call("PingTime", kGet, {}, &result), DISP_E_BADPARAMCOUNT);
  // An argument to a property without parameters would index its value, which is no collection.
  EXPECT_EQ(Call("PacketSize", kGet, {Short(1)}, &result), DISP_E_NOTACOLLECTION);
  EXPECT_EQ(Call("RTT", kGet, {Text("first")}, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call("TraceRouteTime", kGet, {Text("127.0.0.1"), Text("x")}, &result),
            DISP_E_TYPEMISMATCH);
  EXPECT_TRUE(FAILED(Call("PingReps", kPut, {Long(70000)}, nullptr)));
  Value unchanged;
  ASSERT_EQ(Call("PingReps", kGet, {}, &unchanged), S_OK);
  EXPECT_EQ(unchanged.iVal, 1);
  // A read-only property cannot be put; a DISPID the interface lacks is not found.
  EXPECT_EQ(Call("NGoodPings", kPut, {Short(1)}, nullptr), DISP_E_MEMBERNOTFOUND);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(sonde_->Invoke(99, IID_NULL, 0, kGet, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST(DispatchUnregistered, LoadFailureIsReturnedUntilTheLibraryIsRegistered) {
  HMODULE module = LoadLibraryA(TELVARIO_MODULE_PATH);
  ASSERT_NE(module, nullptr);
  UnregisterTypeLib();
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(CLSID_Sonde, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  IDispatch* sonde = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&sonde)),
            S_OK);
  factory->Release();
  OLECHAR name[] = OLESTR("PingTime");
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(sonde->GetIDsOfNames(IID_NULL, names, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(sonde->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(info, nullptr);
  // Registered now: the same object finds it, without the module being loaded again.
  ASSERT_EQ(RegisterModuleTypeLib(module), S_OK);
  EXPECT_EQ(sonde->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, 3);
  sonde->Release();
}

}  // namespace
