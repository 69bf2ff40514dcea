#include "enginetransport.h"

namespace engine {

EngineTransport::~EngineTransport() = default;

} // namespace engine
