#include "sonde2_type_library.h"

#include <iterator>

#include "sonde_type_library.h"
#include "telvario2_idl.h"

namespace telvario {
namespace {

using typelib::Function;
using typelib::Parameter;

constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr INVOKEKIND kGet = INVOKE_PROPERTYGET;
constexpr INVOKEKIND kPut = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND kMethod = INVOKE_FUNC;

constexpr Parameter kLongValue[] = {{nullptr, VT_I4, kIn}};
constexpr Parameter kHost[] = {{OLESTR("host"), VT_BSTR, kIn}};
constexpr Parameter kName[] = {{OLESTR("name"), VT_BSTR, kIn}};
constexpr Parameter kDoubleValue[] = {{nullptr, VT_R8, kIn}};
constexpr Parameter kUrl[] = {{OLESTR("url"), VT_BSTR, kIn}};
constexpr Parameter kBoolValue[] = {{nullptr, VT_BOOL, kIn}};
constexpr Parameter kHop[] = {{OLESTR("hop"), VT_I4, kIn}};

// After ISonde's slots: the three of IUnknown, the four of IDispatch and its eighteen.
constexpr SHORT kFirst = 25;

#define TELVARIO_GET(name, id, type, slot) \
  { OLESTR(#name), id, kGet, type, kFirst + (slot), 0, OLESTR("property " #name), nullptr, 0 }
// A property of one hop, by its number.
#define TELVARIO_HOP(name, id, type, slot) \
  { OLESTR(#name), id, kGet, type, kFirst + (slot), 0, OLESTR("property " #name), kHop, 1 }

const Function kSonde2Functions[] = {
    TELVARIO_GET(Probes, 100, VT_I4, 0),
    {OLESTR("Probes"), 100, kPut, VT_VOID, kFirst + 1, 0, OLESTR("property Probes"), kLongValue, 1},
    TELVARIO_GET(ProbeInterval, 101, VT_I4, 2),
    {OLESTR("ProbeInterval"), 101, kPut, VT_VOID, kFirst + 3, 0, OLESTR("property ProbeInterval"),
     kLongValue, 1},
    TELVARIO_GET(Family, 102, VT_I4, 4),
    {OLESTR("Family"), 102, kPut, VT_VOID, kFirst + 5, 0, OLESTR("property Family"), kLongValue, 1},
    {OLESTR("Latency"), 103, kMethod, VT_R8, kFirst + 6, 0, OLESTR("method Latency"), kHost, 1},
    TELVARIO_GET(LatencyMin, 104, VT_R8, 7),
    TELVARIO_GET(LatencyMedian, 105, VT_R8, 8),
    TELVARIO_GET(LatencyMean, 106, VT_R8, 9),
    TELVARIO_GET(LatencyP90, 107, VT_R8, 10),
    TELVARIO_GET(LatencyP99, 108, VT_R8, 11),
    TELVARIO_GET(LatencyMax, 109, VT_R8, 12),
    TELVARIO_GET(Jitter, 110, VT_R8, 13),
    TELVARIO_GET(Loss, 111, VT_R8, 14),
    TELVARIO_GET(Sent, 112, VT_I4, 15),
    TELVARIO_GET(Received, 113, VT_I4, 16),
    TELVARIO_GET(PeerAddress, 114, VT_BSTR, 17),
    TELVARIO_GET(Results, 115, VT_BSTR, 18),
    {OLESTR("Addresses"), 116, kMethod, VT_BSTR, kFirst + 19, 0, OLESTR("method Addresses"), kName,
     1},
    TELVARIO_GET(Streams, 117, VT_I4, 20),
    {OLESTR("Streams"), 117, kPut, VT_VOID, kFirst + 21, 0, OLESTR("property Streams"), kLongValue,
     1},
    TELVARIO_GET(Duration, 118, VT_R8, 22),
    {OLESTR("Duration"), 118, kPut, VT_VOID, kFirst + 23, 0, OLESTR("property Duration"),
     kDoubleValue, 1},
    {OLESTR("Download"), 119, kMethod, VT_R8, kFirst + 24, 0, OLESTR("method Download"), kUrl, 1},
    {OLESTR("Upload"), 120, kMethod, VT_R8, kFirst + 25, 0, OLESTR("method Upload"), kUrl, 1},
    TELVARIO_GET(Bytes, 121, VT_R8, 26),
    TELVARIO_GET(Elapsed, 122, VT_R8, 27),
    {OLESTR("Cancel"), 123, kMethod, VT_VOID, kFirst + 28, 0, OLESTR("method Cancel"), nullptr, 0},
    {OLESTR("Responsiveness"), 124, kMethod, VT_R8, kFirst + 29, 0, OLESTR("method Responsiveness"),
     kUrl, 1},
    TELVARIO_GET(ResponsivenessUpload, 125, VT_BOOL, 30),
    {OLESTR("ResponsivenessUpload"), 125, kPut, VT_VOID, kFirst + 31, 0,
     OLESTR("property ResponsivenessUpload"), kBoolValue, 1},
    TELVARIO_GET(IdleLatency, 126, VT_R8, 32),
    TELVARIO_GET(LoadedLatency, 127, VT_R8, 33),
    TELVARIO_GET(LoadedLatencyP90, 128, VT_R8, 34),
    TELVARIO_GET(RPM, 129, VT_R8, 35),
    TELVARIO_GET(MaxHops, 130, VT_I4, 36),
    {OLESTR("MaxHops"), 130, kPut, VT_VOID, kFirst + 37, 0, OLESTR("property MaxHops"), kLongValue,
     1},
    {OLESTR("Route"), 131, kMethod, VT_I4, kFirst + 38, 0, OLESTR("method Route"), kHost, 1},
    TELVARIO_GET(Hops, 132, VT_I4, 39),
    TELVARIO_GET(RouteEnd, 133, VT_BSTR, 40),
    TELVARIO_HOP(HopAddress, 134, VT_BSTR, 41),
    TELVARIO_HOP(HopAddresses, 135, VT_BSTR, 42),
    TELVARIO_HOP(HopSent, 136, VT_I4, 43),
    TELVARIO_HOP(HopReceived, 137, VT_I4, 44),
    TELVARIO_HOP(HopLoss, 138, VT_R8, 45),
    TELVARIO_HOP(HopLatencyMin, 139, VT_R8, 46),
    TELVARIO_HOP(HopLatencyMedian, 140, VT_R8, 47),
    TELVARIO_HOP(HopLatencyMean, 141, VT_R8, 48),
    TELVARIO_HOP(HopLatencyP90, 142, VT_R8, 49),
    TELVARIO_HOP(HopLatencyMax, 143, VT_R8, 50),
    TELVARIO_HOP(HopJitter, 144, VT_R8, 51),
    TELVARIO_HOP(HopForwardLoss, 145, VT_R8, 52),
    TELVARIO_HOP(HopAddedLatency, 146, VT_R8, 53),
    TELVARIO_GET(ResolveHopNames, 147, VT_BOOL, 54),
    {OLESTR("ResolveHopNames"), 147, kPut, VT_VOID, kFirst + 55, 0,
     OLESTR("property ResolveHopNames"), kBoolValue, 1},
    TELVARIO_HOP(HopName, 148, VT_BSTR, 56),
    TELVARIO_HOP(HopReading, 149, VT_BSTR, 57),
    TELVARIO_HOP(HopLatencyLast, 150, VT_R8, 58),
};

constexpr Parameter kProgress[] = {{OLESTR("phase"), VT_BSTR, kIn},
                                   {OLESTR("fraction"), VT_R8, kIn},
                                   {OLESTR("value"), VT_R8, kIn}};

// A dispinterface's members have no slots of their own: they are reached by Invoke only.
const Function kEventFunctions[] = {
    {OLESTR("Progress"), 1, kMethod, VT_VOID, 0, 0, OLESTR("method Progress"), kProgress, 3},
};

#undef TELVARIO_GET
#undef TELVARIO_HOP

const typelib::Interface kInterfaces[] = {
    {&IID_ISonde2, OLESTR("ISonde2"), OLESTR("ISonde2 Interface"),
     TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FDUAL, kSonde2Functions,
     static_cast<WORD>(sizeof kSonde2Functions / sizeof kSonde2Functions[0]), &kISondeDescription,
     true},
    {&DIID__ISonde2Events, OLESTR("_ISonde2Events"), OLESTR("_ISonde2Events Interface"),
     TYPEFLAG_FDISPATCHABLE, kEventFunctions, 1},
};

const typelib::Coclass kCoclasses[] = {
    {&CLSID_Sonde2, OLESTR("Sonde2"), OLESTR("Sonde2 Class"), TYPEFLAG_FCANCREATE, &IID_ISonde2,
     &DIID__ISonde2Events},
};

// The result codes and setting bounds, from the one list the interface definition includes too.
// clang-format off
#define TELVARIO_ENUM(name, help) constexpr typelib::EnumMember k##name##Members[] = {
#define TELVARIO_ENUM_MEMBER(name, value, help) {OLESTR(#name), value, OLESTR(help)},
#define TELVARIO_ENUM_END(name) };
// clang-format on
#include "sonde2_constants.def"
#undef TELVARIO_ENUM
#undef TELVARIO_ENUM_MEMBER
#undef TELVARIO_ENUM_END

#define TELVARIO_ENUM(name, help) \
  {OLESTR(#name), OLESTR(help), k##name##Members, static_cast<WORD>(std::size(k##name##Members))},
#define TELVARIO_ENUM_MEMBER(name, value, help)
#define TELVARIO_ENUM_END(name)
const typelib::Enumeration kEnumerations[] = {
#include "sonde2_constants.def"
};
#undef TELVARIO_ENUM
#undef TELVARIO_ENUM_MEMBER
#undef TELVARIO_ENUM_END

}  // namespace

const typelib::Library kSonde2TypeLibrary = {&LIBID_TELVARIO2Lib,
                                             OLESTR("TELVARIO2Lib"),
                                             OLESTR("Telvario Sonde2 1.0 Type Library"),
                                             1,
                                             0,
                                             0,
                                             kInterfaces,
                                             2,
                                             kCoclasses,
                                             1,
                                             kEnumerations,
                                             static_cast<UINT>(std::size(kEnumerations))};

}  // namespace telvario
