#include "platform/Values.h"

#include <cmath>
#include <limits>

TCurrency TCurrency::FromDouble(double v) {
    // Out-of-range values saturate instead of overflowing; NaN has no amount and gives 0.
    double scaled = std::round(v * 10000.0);
    if (std::isnan(scaled)) return TCurrency{0};
    if (scaled >= 9223372036854775807.0) return TCurrency{std::numeric_limits<int64_t>::max()};
    if (scaled <= -9223372036854775808.0) return TCurrency{std::numeric_limits<int64_t>::min()};
    return TCurrency{static_cast<int64_t>(scaled)};
}

TVariant TVariant::Null() {
    TVariant v;
    v.FType = varNull;
    return v;
}

TVariant TVariant::Integer(TVarType type, int64_t value) {
    TVariant v;
    v.FType = type;
    v.FInt = value;
    return v;
}

TVariant TVariant::UInt64(uint64_t value) {
    TVariant v;
    v.FType = varUInt64;
    v.FInt = static_cast<int64_t>(value);
    return v;
}

TVariant TVariant::Float(TVarType type, double value) {
    TVariant v;
    v.FType = type;
    v.FFloat = value;
    return v;
}

TVariant TVariant::Currency(TCurrency value) {
    TVariant v;
    v.FType = varCurrency;
    v.FInt = value.scaled;
    return v;
}

TVariant TVariant::Date(double dateTime) {
    TVariant v;
    v.FType = varDate;
    v.FFloat = dateTime;
    return v;
}

TVariant TVariant::String(TVarType type, std::string value) {
    TVariant v;
    v.FType = type;
    v.FText = std::move(value);
    return v;
}

TVariant TVariant::Boolean(bool value) {
    TVariant v;
    v.FType = varBoolean;
    v.FInt = value ? 1 : 0;
    return v;
}

TVariant TVariant::Dispatch(void* value) {
    TVariant v;
    v.FType = varDispatch;
    v.FPointer = value;
    return v;
}

TVariant TVariant::Other(TVarType type) {
    TVariant v;
    v.FType = type;
    return v;
}

TVarRec TVarRec::Pointer(const void* p, const TObject* object) {
    TVarRec r;
    r.FKind = vtPointer;
    r.FPointer = p;
    r.FObject = object;
    return r;
}

TVarRec TVarRec::Class(const std::type_info& type) {
    TVarRec r;
    r.FKind = vtClass;
    r.FClass = &type;
    return r;
}

TVarRec TVarRec::Interface(const void* p) {
    TVarRec r;
    r.FKind = vtInterface;
    r.FPointer = p;
    return r;
}

TVarRec TVarRec::Text(Kind kind, std::string v) {
    TVarRec r;
    r.FKind = kind;
    r.FText = std::move(v);
    return r;
}

TVarRec TVarRec::WideChar(std::string utf8Char) {
    TVarRec r;
    r.FKind = vtWideChar;
    r.FText = std::move(utf8Char);
    return r;
}
