// The effect's external interfaces: the dispatchers the host calls and the
// handlers they reach.
#pragma once

#include "host/FilterStatus.h"
#include "host/HostTypes.h"
#include "host/IFXFilterInstance.h"
#include "host/Parameters.h"
#include "host/Selectors.h"

// g-buffer channels the effect reads, and those it leaves invalid in its
// output, in the host's numbering of channels.
constexpr std::uint32_t kInputGBufferMask = 0x3761;
constexpr std::uint32_t kInvalidOutputGBufferMask = 0x7FFF;

extern "C" {
DOF_EXPORT QVULong ENTRYPOINT1(IFXFilterInstance* filterInstance, QVULong selector);
DOF_EXPORT int ExecuteTest(void);
}

DOF_EXPORT QVULong InitFunc(IFXFilterInstance* filterInstance, QVULong selector);
DOF_EXPORT QVULong ExecuteFunc(IFXFilterInstance* filterInstance, QVULong selector);

DOF_EXPORT FilterStatus filter_getinfo(IFXFilterInstance* filterInstance);
DOF_EXPORT FilterStatus filter_setup(IFXFilterInstance* filterInstance);
DOF_EXPORT FilterStatus filter_cleanup(IFXFilterInstance* filterInstance);
DOF_EXPORT FilterStatus filter_prepare(IFXFilterInstance& filterInstance);
DOF_EXPORT FilterStatus filter_apply(IFXFilterInstance const& filterInstance, Parameters* params);
DOF_EXPORT FilterStatus filter_finished(IFXFilterInstance const& filterInstance,
                                        Parameters* params);
DOF_EXPORT FilterStatus filter_outputsize(IFXFilterInstance* filterInstance);
DOF_EXPORT FilterStatus filter_getinputgbuffers(IFXFilterInstance* filterInstance);
DOF_EXPORT FilterStatus filter_getselectionmode(IFXFilterInstance* filterInstance);
DOF_EXPORT FilterStatus filter_getoutputgbuffers(IFXFilterInstance* filterInstance);
DOF_EXPORT FilterStatus filter_getoutputgbuffers2(IFXFilterInstance* filterInstance);
DOF_EXPORT FilterStatus filter_getinvalidoutgbuffers(IFXFilterInstance* filterInstance);
