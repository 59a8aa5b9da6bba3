// The effect's wrappers of the host services: all its memory passes here.
#pragma once

#include "host/HostTypes.h"
#include "host/QVLib.h"

void* fi_AllocMem(QVULong size, unsigned int flags);
void fi_FreeMem(void* block);
QVBitmap* fi_AllocBitmap(QVLong width, QVLong height, QVBitmapType type, char* name);
void fi_FreeBitmap(QVBitmap* bitmap);
