#include "tool/started_effect.h"

#include "util/error_line.h"

namespace dof {

bool startEffect(const std::string& effectsDir, StartedEffect* effect) {
    std::string error;
    effect->library = runtime::loadDepthOfField(&error, effectsDir);
    if (!effect->library) {
        printError(error);
        return false;
    }
    effect->instance.reset(new runtime::EffectInstance(*effect->library));
    if (!effect->instance->start(&error)) {
        printError(error);
        return false;
    }
    return true;
}

}  // namespace dof
