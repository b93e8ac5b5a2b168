// Late-bound calls: the script's arguments, positional ones last-first and named ones by their
// parameter index, converted to the parameter types and passed with the [out, retval] to the
// member in the object's slot table. libffi makes the call, since the members' signatures are
// known only from the description.
#include <ffi.h>

#include <cstring>
#include <vector>

#include "oleaut.h"
#include "type_library.h"

namespace automation {
namespace {

using telvario::typelib::Function;

union ArgumentValue {
  void* pointer;
  SHORT i2;
  USHORT ui2;
  LONG i4;
  ULONG ui4;
  float r4;
  double r8;
};

ffi_type* FfiType(VARTYPE type) {
  switch (type) {
    case VT_I2:
    case VT_BOOL:
      return &ffi_type_sint16;
    case VT_UI2:
      return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
      return &ffi_type_uint32;
    case VT_R4:
      return &ffi_type_float;
    case VT_R8:
    case VT_DATE:
      return &ffi_type_double;
    default:
      return &ffi_type_pointer;
  }
}

ArgumentValue ValueOf(const VARIANT& value) {
  ArgumentValue argument{};
  switch (value.vt) {
    case VT_I2:
    case VT_BOOL:
      argument.i2 = value.iVal;
      break;
    case VT_UI2:
      argument.ui2 = value.uiVal;
      break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      argument.i4 = value.lVal;
      break;
    case VT_UI4:
    case VT_UINT:
      argument.ui4 = value.ulVal;
      break;
    case VT_R4:
      argument.r4 = value.fltVal;
      break;
    case VT_R8:
    case VT_DATE:
      argument.r8 = value.dblVal;
      break;
    default:
      argument.pointer = value.byref;
      break;
  }
  return argument;
}

void StoreResult(VARTYPE type, const ArgumentValue& out, VARIANT* result) {
  VariantInit(result);
  result->vt = type;
  switch (type) {
    case VT_I2:
    case VT_BOOL:
      result->iVal = out.i2;
      break;
    case VT_UI2:
      result->uiVal = out.ui2;
      break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      result->lVal = out.i4;
      break;
    case VT_UI4:
    case VT_UINT:
      result->ulVal = out.ui4;
      break;
    case VT_R4:
      result->fltVal = out.r4;
      break;
    case VT_R8:
    case VT_DATE:
      result->dblVal = out.r8;
      break;
    default:
      result->byref = out.pointer;
      break;
  }
}

// Which argument of rgvarg each parameter takes; DISP_E_PARAMNOTFOUND for a name that fits none.
HRESULT BindArguments(const Function& function, const DISPPARAMS& params, std::vector<int>* bound,
                      UINT* argumentError) {
  const auto count = static_cast<UINT>(function.parameterCount);
  bound->assign(count, -1);
  for (UINT k = 0; k < params.cNamedArgs; ++k) {
    DISPID index = params.rgdispidNamedArgs[k];
    if (index == DISPID_PROPERTYPUT && function.invkind == INVOKE_PROPERTYPUT) {
      index = static_cast<DISPID>(count) - 1;
    }
    if (index < 0 || static_cast<UINT>(index) >= count || (*bound)[index] != -1) {
      if (argumentError != nullptr) *argumentError = k;
      return DISP_E_PARAMNOTFOUND;
    }
    (*bound)[index] = static_cast<int>(k);
  }
  const UINT positional = params.cArgs - params.cNamedArgs;
  for (UINT j = 0; j < positional; ++j) {
    if ((*bound)[j] != -1) {
      if (argumentError != nullptr) *argumentError = params.cArgs - 1 - j;
      return DISP_E_PARAMNOTFOUND;
    }
    (*bound)[j] = static_cast<int>(params.cArgs - 1 - j);
  }
  return S_OK;
}

}  // namespace

HRESULT InvokeFunction(void* instance, const Function& function, WORD /*flags*/, DISPPARAMS* params,
                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  if (params->cNamedArgs > params->cArgs || (params->cArgs > 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr)) {
    return E_INVALIDARG;
  }
  if (params->cArgs != static_cast<UINT>(function.parameterCount)) {
    // Arguments to a property without parameters would index its value.
    const bool indexing = function.invkind == INVOKE_PROPERTYGET && function.parameterCount == 0;
    return indexing ? DISP_E_NOTACOLLECTION : DISP_E_BADPARAMCOUNT;
  }
  std::vector<int> bound;
  HRESULT hr = BindArguments(function, *params, &bound, argumentError);
  if (FAILED(hr)) return hr;

  const std::size_t count = bound.size();
  std::vector<VARIANT> converted(count);
  for (VARIANT& value : converted) VariantInit(&value);
  auto clearConverted = [&converted] {
    for (VARIANT& value : converted) VariantClear(&value);
  };
  for (std::size_t p = 0; p < count; ++p) {
    hr =
        VariantChangeType(&converted[p], &params->rgvarg[bound[p]], 0, function.parameters[p].type);
    if (FAILED(hr)) {
      if (argumentError != nullptr) *argumentError = static_cast<UINT>(bound[p]);
      clearConverted();
      return hr;
    }
  }

  // this, the parameters, then the [out, retval] where the member has one.
  const bool hasResult = function.result != VT_VOID;
  std::vector<ffi_type*> types{&ffi_type_pointer};
  std::vector<ArgumentValue> values(count);
  std::vector<void*> arguments{&instance};
  for (std::size_t p = 0; p < count; ++p) {
    types.push_back(FfiType(function.parameters[p].type));
    values[p] = ValueOf(converted[p]);
    arguments.push_back(&values[p]);
  }
  ArgumentValue out{};
  void* outAddress = &out;
  if (hasResult) {
    types.push_back(&ffi_type_pointer);
    arguments.push_back(&outAddress);
  }
  ffi_cif call{};
  if (ffi_prep_cif(&call, FFI_DEFAULT_ABI, static_cast<unsigned>(types.size()), &ffi_type_sint32,
                   types.data()) != FFI_OK) {
    clearConverted();
    return E_UNEXPECTED;
  }
  void* const* slots = *static_cast<void* const* const*>(instance);
  ffi_arg returned = 0;
  ffi_call(&call, FFI_FN(slots[function.slot]), &returned, arguments.data());
  clearConverted();
  hr = static_cast<HRESULT>(static_cast<std::int32_t>(returned));

  if (FAILED(hr)) {
    // The member's failure reaches the script as an exception with its code.
    if (function.result == VT_BSTR) SysFreeString(static_cast<BSTR>(out.pointer));
    if (exception != nullptr) {
      std::memset(exception, 0, sizeof *exception);
      exception->scode = hr;
    }
    return DISP_E_EXCEPTION;
  }
  if (result != nullptr) {
    if (hasResult) {
      StoreResult(function.result, out, result);
    } else {
      VariantInit(result);
    }
  } else if (function.result == VT_BSTR) {
    SysFreeString(static_cast<BSTR>(out.pointer));
  }
  return hr;
}

}  // namespace automation
