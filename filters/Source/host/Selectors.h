// The numbers the host drives the effect with: selectors of the dispatchers,
// sub-selectors of the query, render passes, and the dispatchers' answer.
#pragma once

#include <cstdint>

#include "host/HostTypes.h"

// Initialisation selectors (ENTRYPOINT1, InitFunc) and execute selectors
// (ExecuteFunc).
enum FilterSelector : QVULong {
    kSelectorDescribe = 1,
    kSelectorSetup = 2,
    kSelectorCleanup = 3,
    kSelectorPrepare = 10,
    kSelectorApply = 11,
    kSelectorFinished = 12,
    kSelectorOutputSize = 13,
    kSelectorQuery = 14,
};

// Sub-selectors of kSelectorQuery, read from querySelector.
enum QuerySelector : std::uint32_t {
    kQueryInputGBuffers = 1,
    kQuerySelectionMode = 2,
    kQueryOutputGBuffers = 3,
    kQueryOutputGBuffers2 = 4,
    kQueryInvalidOutGBuffers = 5,
};

// What a dispatcher answers the host: done when the handler's status was
// kStatusDone, or when it knows no handler for the selector.
enum DispatchResult : QVULong {
    kDispatchFailed = 0,
    kDispatchDone = 1,
};

// The passes of a render, in the order the host numbers them in renderPass.
// Passes 1, 3 and 4 work on the call's outputRect, 0 and 2 on the region.
enum RenderPass : std::uint32_t {
    kPassAllocateRadiusMap = 0,
    kPassFillRadiusMap = 1,
    kPassBuildTables = 2,
    kPassSplat = 3,
    kPassWriteOutput = 4,
    kRenderPassCount = 5,
};
