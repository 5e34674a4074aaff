#include "engine/metatypes.hpp"

namespace zanst::app {

void registerMetaTypes() {
    qRegisterMetaType<tester::BankSnapshot>();
    qRegisterMetaType<tester::BankValues>();
}

} // namespace zanst::app
