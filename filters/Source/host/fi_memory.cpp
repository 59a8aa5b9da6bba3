#include "host/fi_memory.h"

void* fi_AllocMem(QVULong size, unsigned int flags) { return AllocMemQV(size, flags); }

void fi_FreeMem(void* block) { FreeMemQV(block); }

// The fourth argument is the host's; the effect passes null.
QVBitmap* fi_AllocBitmap(QVLong width, QVLong height, QVBitmapType type, char*) {
    return AllocBitmapQV(width, height, type, nullptr);
}

void fi_FreeBitmap(QVBitmap* bitmap) { FreeBitmapQV(bitmap); }
