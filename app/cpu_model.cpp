#include "app/cpu_model.h"

#include "engine/engine.h"

namespace tlm {

std::string cpu_model() { return tlm_engine_processor(); }

}  // namespace tlm
