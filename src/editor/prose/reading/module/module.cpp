#include "editor/prose/reading/readingsurface.h"

extern "C" __attribute__((visibility("default"))) editor::ReadingView *pennora_reading_create(QWidget *parent)
{
    return new editor::ReadingSurface(parent);
}
