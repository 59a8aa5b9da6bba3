#include "dof/IFXFilterEngine.h"

#include "host/fi_memory.h"

IFXFilterEngine::~IFXFilterEngine() {}

FilterStatus IFXFilterEngine::Init(IFXFilterInstance const&) { return kStatusDone; }

FilterStatus IFXFilterEngine::Render(IFXFilterInstance const&) { return kStatusDone; }

void* IFXFilterEngine::operator new(std::size_t size) noexcept {
    return fi_AllocMem(QVULong(size), 0);
}

void IFXFilterEngine::operator delete(void* block) noexcept { fi_FreeMem(block); }
