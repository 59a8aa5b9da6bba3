// What the effect hands the host's DeclareParam: parameter kinds, the tags of
// the tag/value pairs, and the string ids of the names the host shows.
#pragma once

#include <cstdint>

#include "host/HostTypes.h"

// The kind of a declared parameter; the group declaration carries no value.
enum ParamKind : int {
    kParamKindNumber = 4,
    kParamKindChoice = 8,
    kParamKindGroup = 12,
    kParamKindDepth = 16,
};

// Tags of the pairs after the value address; kTagEnd closes the list. Each
// value is a 32-bit word, except that kTagChoices carries a text pointer.
enum ParamTag : std::int32_t {
    kTagEnd = 0,
    kTagMin = 0x2000A,
    kTagMax = 0x2000B,
    kTagNameId = 0x20024,
    kTagUnits = 0x20020,
    kTagDigits = 0x20008,
    kTagPrecision = 0x20007,
    kTagChoices = 0x20012,
    kTagChoiceDefault = 0x20005,
};

// Ids of the host's texts (GetStringQV) that the effect names.
enum QVStringId : std::int32_t {
    kStringCategory = 30000,
    kStringMenu = 30013,
    kStringMethod = 30124,
    kStringFocalDepth = 30156,
    kStringMaximumRadius = 30183,
    kStringSharpUntil = 30298,
    kStringMethodChoices = 30336,
};
