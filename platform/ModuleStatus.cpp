#include "platform/ModuleLoader.h"

namespace ovra {

const char* ToString(ModuleStatus status) {
    switch (status) {
        case ModuleStatus::Ok: return "ok";
        case ModuleStatus::NotFound: return "not found";
        case ModuleStatus::NotAModule: return "not a loadable library";
    }
    return "unknown";
}

}  // namespace ovra
