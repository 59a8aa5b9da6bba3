// Entry points, selector dispatch, description, queries, set up and clean up,
// and the render lifecycle.
#include "FILTMAIN.h"

#include <cstdio>
#include <cstdlib>

#include "dof/IFXFilterEngine.h"
#include "dof/MaxDOF.h"
#include "dof/scratch_tables.h"
#include "host/ParamDeclaration.h"
#include "host/fi_memory.h"

namespace {

const char kMenuName[] = "3D Depth of Field...";
const char kCategoryName[] = "3D Post";
const char kSetupString[] = "chch-h";

constexpr std::uint32_t kSetupFlags = 0xE0000000u;
constexpr std::uint32_t kSetupWord = 0x3F1A36E2u;
constexpr int kDepthMin = -65535;

// The host stops the process when its function table is not the one its own
// support library fills: the effect cannot trust its memory otherwise.
[[noreturn]] void failed_assertion(unsigned line, const char* expression) {
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", "FILTMAIN", line, expression);
    std::fflush(stderr);
    std::abort();
}

QVULong host_result(FilterStatus status) {
    return (status & 0xFF) == kStatusDone ? kDispatchDone : kDispatchFailed;
}

}  // namespace

extern "C" QVULong ENTRYPOINT1(IFXFilterInstance* filterInstance, QVULong selector) {
    const struct FilterInfo* info = filterInstance->FilterInfo;
    if (info->AllocMem != AllocMemQV)
        failed_assertion(219, "filterInstance->FilterInfo->AllocMem == AllocMemQV");
    if (info->FreeMem != FreeMemQV)
        failed_assertion(220, "filterInstance->FilterInfo->FreeMem == FreeMemQV");
    if (info->AllocBitmap != AllocBitmapQV)
        failed_assertion(221, "filterInstance->FilterInfo->AllocBitmap == AllocBitmapQV");
    return InitFunc(filterInstance, selector);
}

extern "C" int ExecuteTest(void) { return 0; }

QVULong InitFunc(IFXFilterInstance* filterInstance, QVULong selector) {
    switch (selector) {
        case kSelectorDescribe:
            filterInstance->entryCode1 = 1;
            filterInstance->entryCode2 = 2;
            return host_result(filter_getinfo(filterInstance));
        case kSelectorSetup:
            filterInstance->initEntry = InitFunc;
            filterInstance->executeEntry = ExecuteFunc;
            return host_result(filter_setup(filterInstance));
        case kSelectorCleanup:
            return host_result(filter_cleanup(filterInstance));
        default:
            return kDispatchDone;
    }
}

QVULong ExecuteFunc(IFXFilterInstance* filterInstance, QVULong selector) {
    switch (selector) {
        case kSelectorPrepare:
            return host_result(filter_prepare(*filterInstance));
        case kSelectorApply:
            return host_result(filter_apply(*filterInstance, filterInstance->parameters));
        case kSelectorFinished:
            return host_result(filter_finished(*filterInstance, filterInstance->parameters));
        case kSelectorOutputSize:
            return host_result(filter_outputsize(filterInstance));
        case kSelectorQuery:
            switch (filterInstance->querySelector) {
                case kQueryInputGBuffers:
                    return host_result(filter_getinputgbuffers(filterInstance));
                case kQuerySelectionMode:
                    return host_result(filter_getselectionmode(filterInstance));
                case kQueryOutputGBuffers:
                    return host_result(filter_getoutputgbuffers(filterInstance));
                case kQueryOutputGBuffers2:
                    return host_result(filter_getoutputgbuffers2(filterInstance));
                case kQueryInvalidOutGBuffers:
                    return host_result(filter_getinvalidoutgbuffers(filterInstance));
                default:
                    return kDispatchDone;
            }
        default:
            return kDispatchDone;
    }
}

FilterStatus filter_getinfo(IFXFilterInstance* filterInstance) {
    if ((filterInstance->FilterInfo->hostFlags & kHostFlagDescribe) == 0)
        return kStatusMissingCapability;
    filterInstance->infoCode1 = 2;
    filterInstance->infoCode2 = 0;
    filterInstance->categoryName = kCategoryName;
    filterInstance->categoryNameId = kStringCategory;
    filterInstance->menuName = kMenuName;
    filterInstance->menuNameId = kStringMenu;
    return kStatusDone;
}

FilterStatus filter_setup(IFXFilterInstance* filterInstance) {
    Parameters* params = static_cast<Parameters*>(fi_AllocMem(sizeof(Parameters), 0));
    if (params == nullptr) return kStatusOutOfMemory;

    filterInstance->parameters = params;
    filterInstance->setupFlags = kSetupFlags;
    filterInstance->setupWord = kSetupWord;
    filterInstance->setupString = kSetupString;

    // A radius of 0 leaves the image sharp until the user asks for blur; a
    // sharp zone ending nearer than the focal depth is switched off.
    params->radius = 0.0;
    params->mode = kMethodBoxAverage;
    params->focalDepth = -1.0;
    params->focusRangeDepth = 0.0;
    params->alphaTable = nullptr;
    params->colourSumR = params->colourSumG = params->colourSumB = nullptr;
    params->opacitySumR = params->opacitySumG = params->opacitySumB = nullptr;
    params->transmitR = params->transmitG = params->transmitB = nullptr;
    params->weightSumR = params->weightSumG = params->weightSumB = nullptr;
    params->cocMap = nullptr;

    DeclareParamFunc declare = filterInstance->FilterInfo->DeclareParam;
    declare(filterInstance, kParamKindGroup, nullptr, 0, kTagEnd);
    declare(filterInstance, kParamKindDepth, &params->focalDepth, 0, kTagMin, kDepthMin, kTagMax,
            -1, kTagUnits, 1, kTagNameId, kStringFocalDepth, kTagEnd);
    declare(filterInstance, kParamKindDepth, &params->focusRangeDepth, 0, kTagMin, kDepthMin,
            kTagMax, -1, kTagUnits, 1, kTagNameId, kStringSharpUntil, kTagPrecision, 4, kTagEnd);
    declare(filterInstance, kParamKindNumber, &params->radius, 0, kTagMin, 0, kTagMax,
            int(kMaximumRadius), kTagDigits, 0, kTagNameId, kStringMaximumRadius, kTagPrecision, 2,
            kTagEnd);
    const char* methodChoices = GetStringQV(kStringMethodChoices);
    declare(filterInstance, kParamKindChoice, &params->mode, 0, kTagChoices, methodChoices,
            kTagChoiceDefault, 0, kTagNameId, kStringMethod, kTagEnd);
    return kStatusDone;
}

FilterStatus filter_cleanup(IFXFilterInstance* filterInstance) {
    // The last render's finished has already released the buffers and engine.
    fi_FreeMem(filterInstance->parameters);
    return kStatusDone;
}

FilterStatus filter_prepare(IFXFilterInstance& filterInstance) {
    // A prepare without a finished before it must not strand the old engine.
    delete filterInstance.engine;
    filterInstance.engine = nullptr;

    // Without its Parameters record (a set up that failed) no engine can run.
    Parameters* params = filterInstance.parameters;
    const QVBitmap* destination = filterInstance.dstBuffer;
    const QVBitmapType format =
        destination != nullptr && params != nullptr ? destination->formatCode : kQVBitmapNone;
    IFXFilterEngine* engine;
    switch (format) {
        case kQVBitmapRGBA8:
            engine = new MaxDOF_RGBA8(params);
            break;
        case kQVBitmapRGBA10:
            engine = new MaxDOF_RGBA10(params);
            break;
        case kQVBitmapRGBA12:
            engine = new MaxDOF_RGBA12(params);
            break;
        case kQVBitmapRGBA16:
            engine = new MaxDOF_RGBA16(params);
            break;
        case kQVBitmapRGBAFloat:
            engine = new MaxDOF_RGBAFloat(params);
            break;
        default:
            engine = nullptr;
            break;
    }
    filterInstance.engine = engine;
    // An unknown format answers out of memory too, as hosts expect of it.
    return engine != nullptr ? kStatusDone : kStatusOutOfMemory;
}

FilterStatus filter_apply(IFXFilterInstance const& filterInstance, Parameters*) {
    // No engine (its prepare failed): no pass can run. That is not a want of
    // memory, whatever prepare answered, so the status is that of a pass the
    // engine cannot run.
    if (filterInstance.engine == nullptr) return kStatusUnknownPassOrMode;
    return FilterStatus(filterInstance.engine->Render(filterInstance) & 0xFF);
}

FilterStatus filter_finished(IFXFilterInstance const& filterInstance, Parameters* params) {
    if (params != nullptr) {
        release_scratch_tables(params);
        fi_FreeMem(params->cocMap);
        params->cocMap = nullptr;
    }
    // The record is the host's, not constant: clearing the field makes a
    // second finished, or an apply after this one, harmless.
    IFXFilterInstance& record = const_cast<IFXFilterInstance&>(filterInstance);
    delete record.engine;
    record.engine = nullptr;
    return kStatusDone;
}

FilterStatus filter_outputsize(IFXFilterInstance*) { return kStatusDone; }

FilterStatus filter_getinputgbuffers(IFXFilterInstance* filterInstance) {
    *filterInstance->queryResult = kInputGBufferMask;
    return kStatusDone;
}

FilterStatus filter_getselectionmode(IFXFilterInstance*) { return kStatusDone; }

FilterStatus filter_getoutputgbuffers(IFXFilterInstance*) { return kStatusDone; }

FilterStatus filter_getoutputgbuffers2(IFXFilterInstance*) { return kStatusDone; }

FilterStatus filter_getinvalidoutgbuffers(IFXFilterInstance* filterInstance) {
    *filterInstance->queryResult = kInvalidOutputGBufferMask;
    return kStatusDone;
}
