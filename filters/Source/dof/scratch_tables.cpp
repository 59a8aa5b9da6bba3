#include "dof/scratch_tables.h"

#include "host/fi_memory.h"

void release_scratch_tables(Parameters* params) {
    for (int t = 0; t < kScratchTableCount; ++t) {
        fi_FreeMem(scratch_table(params, t));
        scratch_table(params, t) = nullptr;
    }
}
