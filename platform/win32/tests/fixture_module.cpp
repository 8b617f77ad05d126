// Loaded by the dynamic-loading test.
extern "C" int vx_testmod_answer() { return 42; }
extern "C" const char* vx_testmod_name() { return VX_TESTMOD_NAME; }
