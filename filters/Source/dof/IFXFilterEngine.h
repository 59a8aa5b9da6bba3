// Base class of the render engines; one instantiation per pixel format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/FilterStatus.h"

struct IFXFilterInstance;

class IFXFilterEngine {
public:
    virtual ~IFXFilterEngine();
    virtual FilterStatus Init(IFXFilterInstance const& instance);
    virtual FilterStatus Render(IFXFilterInstance const& instance);

    // Engines live in host memory; a null allocation means no engine.
    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* block) noexcept;
};
