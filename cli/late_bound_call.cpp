#include "late_bound_call.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "automation_text.h"
#include "commands.h"
#include "option_values.h"
#include "upload_measure.h"

namespace telvario::cli {
namespace {

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned int>(result));
  return text;
}

std::string Describe(HRESULT result) {
  switch (result) {
    case DISP_E_UNKNOWNNAME:
      return "no member of that name";
    case DISP_E_MEMBERNOTFOUND:
      return "the member cannot be called that way";
    case DISP_E_BADPARAMCOUNT:
      return "wrong number of arguments";
    case DISP_E_NOTACOLLECTION:
      return "the property takes no arguments";
    case DISP_E_TYPEMISMATCH:
      return "an argument has the wrong type";
    case DISP_E_OVERFLOW:
      return "an argument is out of range";
    case TYPE_E_LIBNOTREGISTERED:
      return "the type library is not registered";
    default:
      return "failed";
  }
}

// A script's literal: a whole number, a number with a fraction, or text.
VARIANT Literal(const std::string& text) {
  VARIANT value;
  VariantInit(&value);
  char* end = nullptr;
  errno = 0;
  const long long whole = std::strtoll(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && errno == 0 && whole >= -2147483647LL - 1 &&
      whole <= 2147483647LL) {
    value.vt = VT_I4;
    value.lVal = static_cast<LONG>(whole);
    return value;
  }
  const double real = std::strtod(text.c_str(), &end);
  if (!text.empty() && *end == '\0' && text.find_first_of("nN") == std::string::npos) {
    value.vt = VT_R8;
    value.dblVal = real;
    return value;
  }
  value.vt = VT_BSTR;
  value.bstrVal = ToBstr(text);
  return value;
}

void AddValue(Report& report, const std::string& name, const VARIANT& value) {
  switch (value.vt) {
    case VT_I2:
      report.Add(name, static_cast<long long>(value.iVal));
      report.Add("Type", std::string("VT_I2"));
      break;
    case VT_I4:
      report.Add(name, static_cast<long long>(value.lVal));
      report.Add("Type", std::string("VT_I4"));
      break;
    case VT_R4:
      report.Add(name, static_cast<double>(value.fltVal));
      report.Add("Type", std::string("VT_R4"));
      break;
    case VT_R8:
      report.Add(name, value.dblVal);
      report.Add("Type", std::string("VT_R8"));
      break;
    case VT_BSTR:
      report.Add(name, Narrow(value.bstrVal));
      report.Add("Type", std::string("VT_BSTR"));
      break;
    default:
      report.Add("Type",
                 value.vt == VT_EMPTY ? std::string("VT_EMPTY") : "VT " + std::to_string(value.vt));
      break;
  }
}

}  // namespace

bool LateBoundCall(ISonde& sonde, const std::string& member,
                   const std::vector<std::string>& arguments, bool put, Report& report,
                   std::string* error) {
  BSTR name = ToBstr(member);
  DISPID dispid = DISPID_UNKNOWN;
  HRESULT hr = sonde.GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid);
  SysFreeString(name);
  if (FAILED(hr)) {
    *error = member + ": " + Describe(hr) + " (" + Hex(hr) + ")";
    if (hr == TYPE_E_LIBNOTREGISTERED) *error += "; run telvario register first";
    return false;
  }

  std::vector<VARIANT> values;
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) values.push_back(Literal(*it));
  DISPID putName = DISPID_PROPERTYPUT;
  DISPPARAMS params{values.data(), put ? &putName : nullptr, static_cast<UINT>(values.size()),
                    put ? 1u : 0u};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception{};
  UINT argumentError = 0;
  const WORD flags = put ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  hr = sonde.Invoke(dispid, IID_NULL, 0, flags, &params, &result, &exception, &argumentError);
  for (VARIANT& value : values) VariantClear(&value);
  if (FAILED(hr)) {
    *error = member + ": " + Describe(hr) + " (" + Hex(hr) + ")";
    if (hr == DISP_E_EXCEPTION) *error += ", the member failed with " + Hex(exception.scode);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return false;
  }
  report.Add("Member", member);
  report.Add("DISPID", static_cast<long long>(dispid));
  AddValue(report, put ? "Put" : "Result", result);
  VariantClear(&result);
  return true;
}

}  // namespace telvario::cli

namespace telvario::cli {
namespace {

// `telvario call MEMBER [ARG...]` and `telvario put MEMBER VALUE`.
class LateBoundCommand final : public Command {
 public:
  explicit LateBoundCommand(bool put) : put_(put) {}
  std::string member;
  std::vector<std::string> arguments;
  bool yes = false;

  // A script may call PingTime and TraceRouteTime.
  bool SendsEcho() const override { return !put_; }

  int Run(Session& session) override {
    Report report;
    std::string error;
    bool called = false;
    {
      // A member that uploads asks first, on the terminal, as a script's host shows the box.
      const ConsentScope consent(session.Library(), yes, "");
      called = LateBoundCall(session.Sonde(), member, arguments, put_, report, &error);
    }
    if (!called) throw RunFailure(error);
    if (put_) AddProperties(session.Sonde(), report);
    return Finish(report, session);
  }

 private:
  bool put_;
};

}  // namespace

std::unique_ptr<Command> AddCallCommand(CLI::App& command) {
  auto call = std::make_unique<LateBoundCommand>(false);
  AddArgument(command, "MEMBER", call->member, "a member's name, as a script names it");
  command.add_option("ARG", call->arguments, "its arguments");
  AddConsentOption(command, call->yes);
  return call;
}

std::unique_ptr<Command> AddPutCommand(CLI::App& command) {
  auto put = std::make_unique<LateBoundCommand>(true);
  AddArgument(command, "MEMBER", put->member, "a property's name");
  put->arguments.resize(1);
  AddArgument(command, "VALUE", put->arguments.front(), "its new value");
  return put;
}

}  // namespace telvario::cli
