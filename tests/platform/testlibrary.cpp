// A small library for the dynamic-library tests.
extern "C" __attribute__((visibility("default"))) int vexorTestAnswer()
{
    return 42;
}
