// The worker tests' stand-in for the window thread, built into this executable as well, so that
// both suites drive the worker through the same synchronised call.
#include "worker/WorkerTestSupport.cpp"
