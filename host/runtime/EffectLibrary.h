// Loads effects from an effects folder, as the compositing host does.
#pragma once

#include <memory>
#include <string>

#include "host/IFXFilterInstance.h"

namespace dof::runtime {

typedef QVULong (*EntryPoint)(IFXFilterInstance* filterInstance, QVULong selector);
typedef int (*ExecuteTestFunc)(void);

// One loaded effect library. Unloads it when destroyed.
class EffectLibrary {
public:
    // Loads the effect at `path`; null with `error` set when it cannot be
    // loaded or lacks ENTRYPOINT1.
    static std::unique_ptr<EffectLibrary> load(const std::string& path, std::string* error);

    // The folder this host takes effects from by default: `effects` beside the
    // `bin` folder of the running program, else the build's own.
    static std::string defaultFolder();

    ~EffectLibrary();
    EffectLibrary(const EffectLibrary&) = delete;
    EffectLibrary& operator=(const EffectLibrary&) = delete;

    const std::string& path() const { return path_; }
    EntryPoint entryPoint() const { return entry_; }
    ExecuteTestFunc executeTest() const { return executeTest_; }

private:
    EffectLibrary(std::string path, void* handle, EntryPoint entry, ExecuteTestFunc executeTest);

    std::string path_;
    void* handle_;
    EntryPoint entry_;
    ExecuteTestFunc executeTest_;
};

// The effect this project builds, from `folder` (default: defaultFolder()).
std::unique_ptr<EffectLibrary> loadDepthOfField(std::string* error,
                                                const std::string& folder = std::string());

}  // namespace dof::runtime
