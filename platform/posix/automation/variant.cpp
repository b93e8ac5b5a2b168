// VARIANT and the coercions a script engine's arguments need: between the numeric types, Boolean,
// strings and empty values, through references. Numbers become integers by rounding half to
// even, as Automation does; values outside the target's range give DISP_E_OVERFLOW, text that is
// not a number DISP_E_TYPEMISMATCH. Text is read and written without locale: a point for the
// decimal separator.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "automation.h"
#include "kernel.h"
#include "no_throw.h"
#include "oleaut.h"

namespace {

// A value on its way between types: an exact integer, a floating-point number, or text.
struct Scalar {
  enum Kind { kInteger, kUnsigned, kReal, kText, kEmpty } kind = kEmpty;
  long long integer = 0;
  unsigned long long unsignedInteger = 0;
  double real = 0;
  bool isBool = false;
  std::u16string text;
};

// The value of a variant (through one level of reference); false for types that carry none.
HRESULT ReadScalar(const VARIANT& value, Scalar* scalar) {
  const bool byref = (value.vt & VT_BYREF) != 0;
  const VARTYPE type = value.vt & VT_TYPEMASK;
  if (byref && value.byref == nullptr) return E_INVALIDARG;
  if (byref && type == VT_VARIANT) return ReadScalar(*value.pvarVal, scalar);
  auto integer = [&](long long v) { scalar->kind = Scalar::kInteger, scalar->integer = v; };
  switch (type) {
    case VT_EMPTY:
      scalar->kind = Scalar::kEmpty;
      return S_OK;
    case VT_I1:
      integer(byref ? *static_cast<const signed char*>(value.byref) : value.cVal);
      return S_OK;
    case VT_UI1:
      integer(byref ? *value.pbVal : value.bVal);
      return S_OK;
    case VT_I2:
      integer(byref ? *value.piVal : value.iVal);
      return S_OK;
    case VT_UI2:
      integer(byref ? *static_cast<const USHORT*>(value.byref) : value.uiVal);
      return S_OK;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      integer(byref ? *value.plVal : value.lVal);
      return S_OK;
    case VT_UI4:
    case VT_UINT:
      integer(byref ? *static_cast<const ULONG*>(value.byref) : value.ulVal);
      return S_OK;
    case VT_I8:
      integer(byref ? *static_cast<const LONGLONG*>(value.byref) : value.llVal);
      return S_OK;
    case VT_UI8:
      scalar->kind = Scalar::kUnsigned;
      scalar->unsignedInteger = byref ? *static_cast<const ULONGLONG*>(value.byref) : value.ullVal;
      return S_OK;
    case VT_BOOL:
      integer((byref ? *value.pboolVal : value.boolVal) != 0 ? -1 : 0);
      scalar->isBool = true;
      return S_OK;
    case VT_R4:
      scalar->kind = Scalar::kReal;
      scalar->real = byref ? *value.pfltVal : value.fltVal;
      return S_OK;
    case VT_R8:
    case VT_DATE:
      scalar->kind = Scalar::kReal;
      scalar->real = byref ? *value.pdblVal : value.dblVal;
      return S_OK;
    case VT_BSTR: {
      const BSTR text = byref ? *value.pbstrVal : value.bstrVal;
      scalar->kind = Scalar::kText;
      if (text != nullptr) scalar->text.assign(text, SysStringLen(text));
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

bool EqualsIgnoringCase(const std::u16string& text, const char* word) {
  std::size_t i = 0;
  for (; word[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    char16_t c = text[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    char w = word[i];
    if (w >= 'a' && w <= 'z') w = static_cast<char>(w - 'a' + 'A');
    if (c != static_cast<char16_t>(w)) return false;
  }
  return i == text.size();
}

// Text as a number: surrounding blanks allowed, "True" and "False" too, nothing else after it.
HRESULT ParseText(const std::u16string& text, Scalar* number) {
  std::string narrow;
  for (const char16_t c : text) {
    if (c > 0x7F) return DISP_E_TYPEMISMATCH;
    narrow += static_cast<char>(c);
  }
  const std::size_t first = narrow.find_first_not_of(" \t");
  const std::size_t last = narrow.find_last_not_of(" \t");
  if (first == std::string::npos) return DISP_E_TYPEMISMATCH;
  const std::string trimmed = narrow.substr(first, last - first + 1);
  if (EqualsIgnoringCase(std::u16string(trimmed.begin(), trimmed.end()), "true")) {
    number->kind = Scalar::kInteger, number->integer = -1;
    return S_OK;
  }
  if (EqualsIgnoringCase(std::u16string(trimmed.begin(), trimmed.end()), "false")) {
    number->kind = Scalar::kInteger, number->integer = 0;
    return S_OK;
  }
  // Only digits, signs, a point and an exponent: strtod would also take "inf", "nan" and hex.
  if (trimmed.find_first_not_of("0123456789+-.eE") != std::string::npos) {
    return DISP_E_TYPEMISMATCH;
  }
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(trimmed.c_str(), &end);
  if (end != trimmed.c_str() + trimmed.size()) return DISP_E_TYPEMISMATCH;
  if (errno == ERANGE && std::isinf(value)) return DISP_E_OVERFLOW;
  number->kind = Scalar::kReal;
  number->real = value;
  return S_OK;
}

// The scalar as a number: integers stay exact, text is parsed, empty is 0.
HRESULT AsNumber(const Scalar& scalar, Scalar* number) {
  if (scalar.kind == Scalar::kText) return ParseText(scalar.text, number);
  *number = scalar;
  if (scalar.kind == Scalar::kEmpty) number->kind = Scalar::kInteger, number->integer = 0;
  return S_OK;
}

HRESULT ToInteger(const Scalar& scalar, long long low, unsigned long long high, long long* out,
                  unsigned long long* outUnsigned) {
  Scalar number;
  const HRESULT parsed = AsNumber(scalar, &number);
  if (FAILED(parsed)) return parsed;
  if (number.kind == Scalar::kReal) {
    if (std::isnan(number.real)) return DISP_E_OVERFLOW;
    const double rounded = std::nearbyint(number.real);  // half to even, the default mode
    if (rounded < static_cast<double>(low) || rounded > static_cast<double>(high)) {
      return DISP_E_OVERFLOW;
    }
    if (rounded >= 0x1p63) {  // beyond the signed 64-bit range: only the unsigned one holds it
      if (high <= static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
        return DISP_E_OVERFLOW;
      }
      *outUnsigned = static_cast<unsigned long long>(rounded);
      *out = 0;
      return S_OK;
    }
    number.kind = Scalar::kInteger;
    number.integer = static_cast<long long>(rounded);
  }
  if (number.kind == Scalar::kUnsigned) {
    if (number.unsignedInteger > high) return DISP_E_OVERFLOW;
    *outUnsigned = number.unsignedInteger;
    *out = static_cast<long long>(number.unsignedInteger);
    return S_OK;
  }
  if (number.integer < low ||
      (number.integer > 0 && static_cast<unsigned long long>(number.integer) > high)) {
    return DISP_E_OVERFLOW;
  }
  *out = number.integer;
  *outUnsigned = static_cast<unsigned long long>(number.integer);
  return S_OK;
}

HRESULT ToReal(const Scalar& scalar, double* out) {
  Scalar number;
  const HRESULT parsed = AsNumber(scalar, &number);
  if (FAILED(parsed)) return parsed;
  if (number.kind == Scalar::kInteger) *out = static_cast<double>(number.integer);
  if (number.kind == Scalar::kUnsigned) *out = static_cast<double>(number.unsignedInteger);
  if (number.kind == Scalar::kReal) *out = number.real;
  return S_OK;
}

HRESULT ToText(const Scalar& scalar, VARTYPE sourceType, std::u16string* out) {
  char buffer[64] = {};
  switch (scalar.kind) {
    case Scalar::kText:
      *out = scalar.text;
      return S_OK;
    case Scalar::kEmpty:
      out->clear();
      return S_OK;
    case Scalar::kInteger:
      if (scalar.isBool) {
        *out = scalar.integer != 0 ? u"True" : u"False";
        return S_OK;
      }
      std::snprintf(buffer, sizeof buffer, "%lld", scalar.integer);
      break;
    case Scalar::kUnsigned:
      std::snprintf(buffer, sizeof buffer, "%llu", scalar.unsignedInteger);
      break;
    case Scalar::kReal:
      // The significant digits the type holds: 7 for single, 15 for double precision.
      std::snprintf(buffer, sizeof buffer, "%.*G", sourceType == VT_R4 ? 7 : 15, scalar.real);
      break;
  }
  out->assign(buffer, buffer + std::char_traits<char>::length(buffer));
  return S_OK;
}

VARTYPE TypeBehind(const VARIANT& value) {
  if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal != nullptr) {
    return TypeBehind(*value.pvarVal);
  }
  return value.vt & VT_TYPEMASK;
}

}  // namespace

void VariantInit(VARIANT* value) {
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
  value->llVal = 0;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  if ((value->vt & VT_BYREF) == 0) {
    switch (value->vt) {
      case VT_BSTR:
        SysFreeString(value->bstrVal);
        break;
      case VT_DISPATCH:
      case VT_UNKNOWN:
        if (value->punkVal != nullptr) value->punkVal->Release();
        break;
      default:
        break;
    }
  }
  VariantInit(value);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
  if (destination == source) return S_OK;
  VARIANT copy = *source;
  if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  } else if ((source->vt == VT_DISPATCH || source->vt == VT_UNKNOWN) && source->punkVal) {
    source->punkVal->AddRef();
  }
  VariantClear(destination);
  *destination = copy;
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT /*flags*/,
                          VARTYPE vt) {
  return WithoutThrowing(ReportsHresult{}, [&]() -> HRESULT {
    if (destination == nullptr || source == nullptr) return E_INVALIDARG;
    if (source->vt == vt) return VariantCopy(destination, source);
    const VARTYPE sourceType = TypeBehind(*source);
    if (sourceType == VT_NULL || vt == VT_NULL) return DISP_E_TYPEMISMATCH;
    Scalar scalar;
    const HRESULT read = ReadScalar(*source, &scalar);
    if (FAILED(read)) return read;

    VARIANT result;
    VariantInit(&result);
    result.vt = vt;
    long long integer = 0;
    unsigned long long unsignedInteger = 0;
    double real = 0;
    HRESULT hr = S_OK;
    switch (vt) {
      case VT_EMPTY:
        break;
      case VT_I1:
        hr = ToInteger(scalar, -128, 127, &integer, &unsignedInteger);
        result.cVal = static_cast<char>(integer);
        break;
      case VT_UI1:
        hr = ToInteger(scalar, 0, 255, &integer, &unsignedInteger);
        result.bVal = static_cast<BYTE>(integer);
        break;
      case VT_I2:
        hr = ToInteger(scalar, -32768, 32767, &integer, &unsignedInteger);
        result.iVal = static_cast<SHORT>(integer);
        break;
      case VT_UI2:
        hr = ToInteger(scalar, 0, 65535, &integer, &unsignedInteger);
        result.uiVal = static_cast<USHORT>(integer);
        break;
      case VT_I4:
      case VT_INT:
        hr = ToInteger(scalar, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(),
                       &integer, &unsignedInteger);
        result.lVal = static_cast<LONG>(integer);
        break;
      case VT_UI4:
      case VT_UINT:
        hr = ToInteger(scalar, 0, std::numeric_limits<ULONG>::max(), &integer, &unsignedInteger);
        result.ulVal = static_cast<ULONG>(integer);
        break;
      case VT_I8:
        hr = ToInteger(scalar, std::numeric_limits<long long>::min(),
                       std::numeric_limits<long long>::max(), &integer, &unsignedInteger);
        result.llVal = integer;
        break;
      case VT_UI8:
        hr = ToInteger(scalar, 0, std::numeric_limits<unsigned long long>::max(), &integer,
                       &unsignedInteger);
        result.ullVal = unsignedInteger;
        break;
      case VT_BOOL:
        hr = ToReal(scalar, &real);
        result.boolVal = real != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      case VT_R4:
        hr = ToReal(scalar, &real);
        if (SUCCEEDED(hr) && std::isfinite(real) &&
            std::fabs(real) > std::numeric_limits<float>::max()) {
          hr = DISP_E_OVERFLOW;
        }
        result.fltVal = static_cast<float>(real);
        break;
      case VT_R8:
      case VT_DATE:
        hr = ToReal(scalar, &real);
        result.dblVal = real;
        break;
      case VT_BSTR: {
        std::u16string text;
        hr = ToText(scalar, sourceType, &text);
        if (SUCCEEDED(hr)) {
          result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
          if (result.bstrVal == nullptr) hr = E_OUTOFMEMORY;
        }
        break;
      }
      default:
        return DISP_E_BADVARTYPE;
    }
    if (FAILED(hr)) return hr;
    VariantClear(destination);  // also when it is the source: its value has been read
    *destination = result;
    return S_OK;
  });
}

HRESULT VarUI4FromStr(LPCOLESTR text, LCID /*locale*/, ULONG /*flags*/, ULONG* out) {
  if (text == nullptr || out == nullptr) return E_INVALIDARG;
  Scalar scalar;
  scalar.kind = Scalar::kText;
  scalar.text.assign(text, static_cast<std::size_t>(lstrlenW(text)));
  long long value = 0;
  unsigned long long unsignedValue = 0;
  const HRESULT hr =
      ToInteger(scalar, 0, std::numeric_limits<ULONG>::max(), &value, &unsignedValue);
  if (SUCCEEDED(hr)) *out = static_cast<ULONG>(value);
  return hr;
}
