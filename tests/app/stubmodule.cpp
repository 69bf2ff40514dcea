// A stand-in for the application module: its entry answers the status named
// by PENNORA_STUB_STATUS, so a test sees whether the process passes it on.

#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int pennora_app_main(int, char **)
{
    const char *status = std::getenv("PENNORA_STUB_STATUS");
    return status ? std::atoi(status) : 0;
}
