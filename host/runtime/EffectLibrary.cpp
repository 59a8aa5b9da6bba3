#include "runtime/EffectLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace dof::runtime {

EffectLibrary::EffectLibrary(std::string path, void* handle, EntryPoint entry,
                             ExecuteTestFunc executeTest)
    : path_(std::move(path)), handle_(handle), entry_(entry), executeTest_(executeTest) {}

EffectLibrary::~EffectLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

std::unique_ptr<EffectLibrary> EffectLibrary::load(const std::string& path, std::string* error) {
    // Effects are private to the host: their names must not leak into other
    // effects loaded beside them.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // The loader's message starts with the path again; say it once.
        std::string reason = dlerror();
        if (reason.compare(0, path.size() + 2, path + ": ") == 0) reason.erase(0, path.size() + 2);
        if (error) *error = path + ": cannot load effect: " + reason;
        return nullptr;
    }
    void* entry = dlsym(handle, "ENTRYPOINT1");
    if (entry == nullptr) {
        if (error) *error = path + ": not an effect (no ENTRYPOINT1)";
        dlclose(handle);
        return nullptr;
    }
    void* test = dlsym(handle, "ExecuteTest");
    return std::unique_ptr<EffectLibrary>(
        new EffectLibrary(path, handle, reinterpret_cast<EntryPoint>(entry),
                          reinterpret_cast<ExecuteTestFunc>(test)));
}

std::string EffectLibrary::defaultFolder() {
    char exe[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length > 0) {
        std::string path(exe, size_t(length));
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            const std::string candidate = path.substr(0, slash) + "/../effects";
            if (access((candidate + "/DepthOfField.so").c_str(), R_OK) == 0) return candidate;
        }
    }
    return DOF_DEFAULT_EFFECTS_DIR;
}

std::unique_ptr<EffectLibrary> loadDepthOfField(std::string* error, const std::string& folder) {
    const std::string dir = folder.empty() ? EffectLibrary::defaultFolder() : folder;
    return EffectLibrary::load(dir + "/DepthOfField.so", error);
}

}  // namespace dof::runtime
