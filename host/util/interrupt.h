// Ctrl-C and termination requests: the first one asks every running render
// to stop (the effects hear it through CheckAbort) and no further output is
// written; the next one, or the first left unanswered for 20 seconds (a run
// stuck in a wait), ends the program at once.
#pragma once

namespace dof {

void installInterruptHandlers();
void restoreInterruptHandlers();
bool interruptRequested();
// 128 + the number of the signal that asked to stop (130 for Ctrl-C).
int interruptExitStatus();

}  // namespace dof
