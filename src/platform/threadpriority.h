#pragma once

// Lets the calling thread give way to every other thread of the app when
// the machine is busy: for work that may lag behind, such as keeping the
// history, while the threads that show output must not.
void yieldToOtherThreads();
