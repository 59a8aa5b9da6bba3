#include "dof/IFXFilterEngine.h"

#include "host/fi_memory.h"

IFXFilterEngine::~IFXFilterEngine() {}

std::uint32_t IFXFilterEngine::Init(IFXFilterInstance const&) { return 0; }

std::uint32_t IFXFilterEngine::Render(IFXFilterInstance const&) { return 0; }

void* IFXFilterEngine::operator new(std::size_t size) noexcept {
    return fi_AllocMem(QVULong(size), 0);
}

void IFXFilterEngine::operator delete(void* block) noexcept { fi_FreeMem(block); }
