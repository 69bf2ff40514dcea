#include "app/pennoraapp.h"

extern "C" __attribute__((visibility("default"))) int pennora_app_main(int argc, char **argv)
{
    return app::PennoraApp::run(argc, argv);
}
