// Integer widths of the host contract and the effect's symbol visibility.
#pragma once

#include <cstdint>

// The host is a 32-bit program: `long` in its records and in the exported
// signatures is 32 bits. On i386 we keep the real `long` so that the decorated
// names match the declared signatures; elsewhere a 32-bit type stands in.
#if defined(__i386__)
typedef long QVLong;
typedef unsigned long QVULong;
#else
typedef std::int32_t QVLong;
typedef std::uint32_t QVULong;
#endif

static_assert(sizeof(QVLong) == 4 && sizeof(QVULong) == 4, "host long is 32 bits");

// Only the external interfaces of the effect are visible; the library is built
// with hidden visibility by default.
#define DOF_EXPORT __attribute__((visibility("default")))

// The host-side record checks hold on the contract's own platform.
#if defined(__i386__)
#define DOF_CONTRACT_PLATFORM 1
#else
#define DOF_CONTRACT_PLATFORM 0
#endif
