#pragma once

#include <mutex>

// FFTW's planner (plan creation and destruction) keeps global state and may be used by
// one thread at a time only, while executing a finished plan is thread-safe. Every plan
// made or destroyed anywhere in the program takes this lock, so that an engine may
// re-size itself on a worker thread while the GUI thread plans too.
std::mutex &fftwPlannerMutex();
