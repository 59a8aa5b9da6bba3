// The effect as the info and demo commands start it: loaded from its
// folder, one instance started, or the reason printed.
#pragma once

#include <memory>
#include <string>

#include "runtime/EffectInstance.h"
#include "runtime/EffectLibrary.h"

namespace dof {

struct StartedEffect {
    std::unique_ptr<runtime::EffectLibrary> library;
    std::unique_ptr<runtime::EffectInstance> instance;  // of `library`
};

// Loads the effect from `effectsDir` (empty: beside this program) and starts
// an instance; false, with the reason printed as an error line, when either
// fails.
bool startEffect(const std::string& effectsDir, StartedEffect* effect);

}  // namespace dof
