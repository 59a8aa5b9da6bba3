// dof3d info: what the effect tells a host about itself.
#include <cstdio>
#include <memory>
#include <string>

#include "host/Selectors.h"
#include "runtime/EffectInstance.h"
#include "runtime/EffectLibrary.h"
#include "tool/commands.h"
#include "tool/started_effect.h"
#include "util/error_line.h"

namespace dof {

int& exitStatus() {
    static int status = 0;
    return status;
}

namespace {

const char* kindName(int kind) {
    switch (kind) {
        case kParamKindNumber:
            return "number";
        case kParamKindChoice:
            return "choice";
        case kParamKindGroup:
            return "group";
        case kParamKindDepth:
            return "depth";
        default:
            return "other";
    }
}

// The host's numbering of the g-buffer channel bits.
const char* channelName(int bit) {
    static const char* const names[] = {"depth",        "material id",  "object id",
                                        "uv",           "normal",       "colour with exponent",
                                        "coverage",     "background",   "depth layers",
                                        "colour",       "transparency", "velocity",
                                        "layer weight", "layer range",  "mask"};
    return bit >= 0 && bit < 15 ? names[bit] : "?";
}

std::string channelList(std::uint32_t mask) {
    std::string list;
    for (int bit = 0; bit < 32; ++bit) {
        if ((mask & (1u << bit)) == 0) continue;
        if (!list.empty()) list += ", ";
        list += channelName(bit);
    }
    return list;
}

int runInfo(const std::string& effectsDir) {
    StartedEffect effect;
    if (!startEffect(effectsDir, &effect)) return 1;
    const runtime::EffectLibrary* library = effect.library.get();
    runtime::EffectInstance& instance = *effect.instance;
    const IFXFilterInstance& record = instance.record();
    std::printf("effect:    %s\n", library->path().c_str());
    std::printf("category:  %s\n", record.categoryName);
    std::printf("menu:      %s\n", record.menuName);
    std::printf("parameters:\n");
    for (const runtime::ParamDeclaration& d : instance.declarations()) {
        if (!runtime::isUserParameter(d)) continue;
        std::printf("  %-20s %-7s", d.name.c_str(), kindName(d.kind));
        if (d.hasTag(kTagMin) || d.hasTag(kTagMax))
            std::printf(" range %d..%d", d.tagValue(kTagMin), d.tagValue(kTagMax));
        const std::string choices = d.choicesText();
        if (!choices.empty()) std::printf(" choices \"%s\"", choices.c_str());
        std::printf(" default %g\n", *d.value);
    }
    std::uint32_t input = 0, invalid = 0;
    instance.query(kQueryInputGBuffers, &input);
    instance.query(kQueryInvalidOutGBuffers, &invalid);
    std::printf("reads g-buffer channels (0x%04X): %s\n", input, channelList(input).c_str());
    std::printf("leaves invalid (0x%04X): %s\n", invalid, channelList(invalid).c_str());
    return 0;
}

}  // namespace

void addInfoCommand(CLI::App& app) {
    CLI::App* info =
        app.add_subcommand("info", "Describe the effect: category, menu, parameters, channels");
    // The options live as long as the callback that reads them, owned by the app.
    auto effectsDir = std::make_shared<std::string>();
    info->add_option("--effects", *effectsDir, "Effects folder (default: beside this program)");
    info->callback([effectsDir] { exitStatus() = runInfo(*effectsDir); });
}

}  // namespace dof
