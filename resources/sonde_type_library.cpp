#include "sonde_type_library.h"

#include "telvario_idl.h"

namespace telvario {
namespace {

using typelib::Function;
using typelib::Parameter;

constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr USHORT kOut = PARAMFLAG_FOUT;
constexpr WORD kRestricted = FUNCFLAG_FRESTRICTED;

// The slots ISonde inherits, as the dispatch side of a dual interface lists them.
constexpr Parameter kQueryInterface[] = {{OLESTR("riid"), VT_PTR, kIn},
                                         {OLESTR("ppvObj"), VT_PTR, kOut}};
constexpr Parameter kGetTypeInfoCount[] = {{OLESTR("pctinfo"), VT_PTR, kOut}};
constexpr Parameter kGetTypeInfo[] = {{OLESTR("itinfo"), VT_UINT, kIn},
                                      {OLESTR("lcid"), VT_UI4, kIn},
                                      {OLESTR("pptinfo"), VT_PTR, kOut}};
constexpr Parameter kGetIDsOfNames[] = {{OLESTR("riid"), VT_PTR, kIn},
                                        {OLESTR("rgszNames"), VT_PTR, kIn},
                                        {OLESTR("cNames"), VT_UINT, kIn},
                                        {OLESTR("lcid"), VT_UI4, kIn},
                                        {OLESTR("rgdispid"), VT_PTR, kOut}};
constexpr Parameter kInvoke[] = {
    {OLESTR("dispidMember"), VT_I4, kIn}, {OLESTR("riid"), VT_PTR, kIn},
    {OLESTR("lcid"), VT_UI4, kIn},        {OLESTR("wFlags"), VT_UI2, kIn},
    {OLESTR("pdispparams"), VT_PTR, kIn}, {OLESTR("pvarResult"), VT_PTR, kOut},
    {OLESTR("pexcepinfo"), VT_PTR, kOut}, {OLESTR("puArgErr"), VT_PTR, kOut}};

// ISonde's own parameters.
constexpr Parameter kAddr[] = {{OLESTR("Addr"), VT_BSTR, kIn}};
constexpr Parameter kHostName[] = {{OLESTR("HostName"), VT_BSTR, kIn}};
constexpr Parameter kSite[] = {{OLESTR("Site"), VT_BSTR, kIn}};
constexpr Parameter kShortValue[] = {{nullptr, VT_I2, kIn}};
constexpr Parameter kSiteAndHop[] = {{OLESTR("Site"), VT_BSTR, kIn}, {OLESTR("Hop"), VT_I2, kIn}};
constexpr Parameter kUrl[] = {{OLESTR("URL"), VT_BSTR, kIn}};
constexpr Parameter kIndex[] = {{OLESTR("i"), VT_I2, kIn}};
constexpr Parameter kMilliseconds[] = {{OLESTR("ms"), VT_I4, kIn}};
constexpr Parameter kHost[] = {{OLESTR("Host"), VT_BSTR, kIn}};

template <std::size_t N>
constexpr SHORT Count(const Parameter (&)[N]) {
  return static_cast<SHORT>(N);
}

constexpr MEMBERID kIUnknownBase = 0x60000000;
constexpr MEMBERID kIDispatchBase = 0x60010000;
constexpr INVOKEKIND kGet = INVOKE_PROPERTYGET;
constexpr INVOKEKIND kPut = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND kMethod = INVOKE_FUNC;

const Function kSondeFunctions[] = {
    {OLESTR("QueryInterface"), kIUnknownBase, kMethod, VT_VOID, 0, kRestricted, nullptr,
     kQueryInterface, Count(kQueryInterface)},
    {OLESTR("AddRef"), kIUnknownBase + 1, kMethod, VT_UI4, 1, kRestricted, nullptr, nullptr, 0},
    {OLESTR("Release"), kIUnknownBase + 2, kMethod, VT_UI4, 2, kRestricted, nullptr, nullptr, 0},
    {OLESTR("GetTypeInfoCount"), kIDispatchBase, kMethod, VT_VOID, 3, kRestricted, nullptr,
     kGetTypeInfoCount, Count(kGetTypeInfoCount)},
    {OLESTR("GetTypeInfo"), kIDispatchBase + 1, kMethod, VT_VOID, 4, kRestricted, nullptr,
     kGetTypeInfo, Count(kGetTypeInfo)},
    {OLESTR("GetIDsOfNames"), kIDispatchBase + 2, kMethod, VT_VOID, 5, kRestricted, nullptr,
     kGetIDsOfNames, Count(kGetIDsOfNames)},
    {OLESTR("Invoke"), kIDispatchBase + 3, kMethod, VT_VOID, 6, kRestricted, nullptr, kInvoke,
     Count(kInvoke)},
    {OLESTR("HostName"), 1, kGet, VT_BSTR, 7, 0, OLESTR("property HostName"), kAddr, 1},
    {OLESTR("Addr"), 2, kGet, VT_BSTR, 8, 0, OLESTR("property Addr"), kHostName, 1},
    {OLESTR("PingTime"), 3, kGet, VT_I2, 9, 0, OLESTR("property PingTime"), kSite, 1},
    {OLESTR("PacketSize"), 4, kGet, VT_I2, 10, 0, OLESTR("property PacketSize"), nullptr, 0},
    {OLESTR("PacketSize"), 4, kPut, VT_VOID, 11, 0, OLESTR("property PacketSize"), kShortValue, 1},
    {OLESTR("PingReps"), 5, kGet, VT_I2, 12, 0, OLESTR("property PingReps"), nullptr, 0},
    {OLESTR("PingReps"), 5, kPut, VT_VOID, 13, 0, OLESTR("property PingReps"), kShortValue, 1},
    {OLESTR("NGoodPings"), 6, kGet, VT_I2, 14, 0, OLESTR("property NGoodPings"), nullptr, 0},
    {OLESTR("ReplyIP"), 7, kGet, VT_BSTR, 15, 0, OLESTR("property ReplyIP"), nullptr, 0},
    {OLESTR("TraceRouteTime"), 8, kGet, VT_I2, 16, 0, OLESTR("property TraceRouteTime"),
     kSiteAndHop, 2},
    {OLESTR("ReadURL"), 9, kGet, VT_R4, 17, 0, OLESTR("property ReadURL"), kUrl, 1},
    {OLESTR("DataRead"), 10, kGet, VT_I4, 18, 0, OLESTR("property DataRead"), nullptr, 0},
    {OLESTR("ElapsedTime"), 11, kGet, VT_R8, 19, 0, OLESTR("property ElapsedTime"), nullptr, 0},
    {OLESTR("DHCPServer"), 12, kGet, VT_BSTR, 20, 0, OLESTR("property DHCPServer"), nullptr, 0},
    {OLESTR("is_DNS_OK"), 13, kGet, VT_I4, 21, 0, OLESTR("property is_DNS_OK"), nullptr, 0},
    {OLESTR("RTT"), 14, kGet, VT_I2, 22, 0, OLESTR("property RTT"), kIndex, 1},
    {OLESTR("Sleep"), 15, kMethod, VT_VOID, 23, 0, OLESTR("method Sleep"), kMilliseconds, 1},
    {OLESTR("UploadTest"), 16, kGet, VT_I4, 24, 0, OLESTR("property UploadTest"), kHost, 1},
};

}  // namespace

const typelib::Interface kISondeDescription = {
    &IID_ISonde,
    OLESTR("ISonde"),
    OLESTR("ISonde Interface"),
    TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FDUAL,
    kSondeFunctions,
    static_cast<WORD>(sizeof kSondeFunctions / sizeof kSondeFunctions[0]),
    nullptr,
    true};

namespace {

const typelib::Coclass kCoclasses[] = {
    {&CLSID_Sonde, OLESTR("Sonde"), OLESTR("Sonde Class"), TYPEFLAG_FCANCREATE, &IID_ISonde},
};

}  // namespace

const typelib::Library kSondeTypeLibrary = {&LIBID_TELVARIOLib,
                                            OLESTR("TELVARIOLib"),
                                            OLESTR("Telvario 1.0 Type Library"),
                                            1,
                                            0,
                                            0,
                                            &kISondeDescription,
                                            1,
                                            kCoclasses,
                                            1};

}  // namespace telvario
