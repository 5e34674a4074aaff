#include "engine/metatypes.hpp"

namespace zanst::app {

void registerMetaTypes() {
    qRegisterMetaType<bank::BankSnapshot>();
    qRegisterMetaType<bank::BankValues>();
}

} // namespace zanst::app
