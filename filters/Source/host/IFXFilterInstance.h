// The host's per-instance record and its function table, as the effect sees
// them. One declaration serves the effect and our host side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/GBuffer.h"
#include "host/HostTypes.h"
#include "host/QVLib.h"

struct IFXFilterInstance;
struct Parameters;
class IFXFilterEngine;

// left, top, width, height in the host's absolute pixel coordinates.
struct QVRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t width;
    std::int32_t height;
};

typedef QVULong (*FilterDispatch)(IFXFilterInstance* filterInstance, QVULong selector);

// DeclareParam(instance, kind, value address, 0, tag, value, ..., 0). Tags and
// values are 32-bit words; the text that goes with tag 0x20012 is passed as a
// pointer.
typedef int (*DeclareParamFunc)(IFXFilterInstance* filterInstance, int kind, double* value,
                                int zero, ...);
typedef int (*CheckAbortFunc)(IFXFilterInstance* filterInstance);
typedef void* (*AllocMemFunc)(QVULong size, QVULong flags);
typedef void (*FreeMemFunc)(void* block);
typedef QVBitmap* (*AllocBitmapFunc)(QVLong width, QVLong height, QVBitmapType type, char* name);
typedef void (*FreeBitmapFunc)(QVBitmap* bitmap);

// Host capability bit that lets the effect describe itself.
enum : std::uint8_t { kHostFlagDescribe = 0x10 };

struct FilterInfo {
    std::uint8_t reserved0[12];
    std::uint8_t hostFlags;
    std::uint8_t reserved13[51];
    DeclareParamFunc DeclareParam;
    std::uint32_t reserved68[6];
    CheckAbortFunc CheckAbort;
    std::uint32_t reserved96[31];
    AllocMemFunc AllocMem;
    std::uint32_t reserved224;
    FreeMemFunc FreeMem;
    AllocBitmapFunc AllocBitmap;
    FreeBitmapFunc FreeBitmap;  // host's own place for the bitmap release
};

struct IFXFilterInstance {
    std::uint32_t reserved0[2];
    const char* menuName;
    const char* categoryName;
    std::int32_t infoCode1;
    std::int32_t infoCode2;
    std::uint32_t reserved24[3];
    std::int32_t entryCode1;
    std::int32_t entryCode2;
    std::uint32_t reserved44;
    double pixelAspect;
    double scaleX;
    double scaleY;
    std::uint32_t setupFlags;
    std::uint32_t setupWord;
    std::uint32_t renderPass;
    const char* setupString;
    Parameters* parameters;
    std::int32_t menuNameId;
    std::int32_t categoryNameId;
    std::uint32_t reserved100[3];
    FilterDispatch initEntry;
    FilterDispatch executeEntry;
    std::uint32_t reserved120;
    struct FilterInfo* FilterInfo;
    std::uint32_t reserved128[2];
    QVBitmap* srcBuffer;
    QVBitmap* dstBuffer;
    std::uint32_t reserved144;
    QVRect renderRegion;
    QVRect outputRect;
    std::uint32_t reserved180[25];
    GBufferChannel** gbuffers;
    std::uint32_t reserved284[15];
    std::uint32_t querySelector;
    std::uint32_t* queryResult;
    std::uint32_t reserved352[4];
    IFXFilterEngine* engine;
    std::uint32_t reserved372[3];
};

#if DOF_CONTRACT_PLATFORM
static_assert(offsetof(FilterInfo, hostFlags) == 12, "hostFlags");
static_assert(offsetof(FilterInfo, DeclareParam) == 64, "DeclareParam");
static_assert(offsetof(FilterInfo, CheckAbort) == 92, "CheckAbort");
static_assert(offsetof(FilterInfo, AllocMem) == 220, "AllocMem");
static_assert(offsetof(FilterInfo, FreeMem) == 228, "FreeMem");
static_assert(offsetof(FilterInfo, AllocBitmap) == 232, "AllocBitmap");

static_assert(offsetof(IFXFilterInstance, menuName) == 8, "menuName");
static_assert(offsetof(IFXFilterInstance, categoryName) == 12, "categoryName");
static_assert(offsetof(IFXFilterInstance, infoCode1) == 16, "infoCode1");
static_assert(offsetof(IFXFilterInstance, infoCode2) == 20, "infoCode2");
static_assert(offsetof(IFXFilterInstance, entryCode1) == 36, "entryCode1");
static_assert(offsetof(IFXFilterInstance, entryCode2) == 40, "entryCode2");
static_assert(offsetof(IFXFilterInstance, pixelAspect) == 48, "pixelAspect");
static_assert(offsetof(IFXFilterInstance, scaleX) == 56, "scaleX");
static_assert(offsetof(IFXFilterInstance, scaleY) == 64, "scaleY");
static_assert(offsetof(IFXFilterInstance, setupFlags) == 72, "setupFlags");
static_assert(offsetof(IFXFilterInstance, setupWord) == 76, "setupWord");
static_assert(offsetof(IFXFilterInstance, renderPass) == 80, "renderPass");
static_assert(offsetof(IFXFilterInstance, setupString) == 84, "setupString");
static_assert(offsetof(IFXFilterInstance, parameters) == 88, "parameters");
static_assert(offsetof(IFXFilterInstance, menuNameId) == 92, "menuNameId");
static_assert(offsetof(IFXFilterInstance, categoryNameId) == 96, "categoryNameId");
static_assert(offsetof(IFXFilterInstance, initEntry) == 112, "initEntry");
static_assert(offsetof(IFXFilterInstance, executeEntry) == 116, "executeEntry");
static_assert(offsetof(IFXFilterInstance, FilterInfo) == 124, "FilterInfo");
static_assert(offsetof(IFXFilterInstance, srcBuffer) == 136, "srcBuffer");
static_assert(offsetof(IFXFilterInstance, dstBuffer) == 140, "dstBuffer");
static_assert(offsetof(IFXFilterInstance, renderRegion) == 148, "renderRegion");
static_assert(offsetof(IFXFilterInstance, outputRect) == 164, "outputRect");
static_assert(offsetof(IFXFilterInstance, gbuffers) == 280, "gbuffers");
static_assert(offsetof(IFXFilterInstance, querySelector) == 344, "querySelector");
static_assert(offsetof(IFXFilterInstance, queryResult) == 348, "queryResult");
static_assert(offsetof(IFXFilterInstance, engine) == 368, "engine");
#endif
